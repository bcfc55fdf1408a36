// The device lists on Linux: cameras from GStreamer's device monitor, sound sources from
// PulseAudio.
#include <chrono>

#include "devices/device_lists.h"
#include "devices/gst_devices.h"
#include "devices/pulse_connection.h"

namespace quillon {
namespace {

constexpr std::chrono::milliseconds kServerTimeout{3000};

struct SourceQuery {
  PulseConnection* connection;
  SoundSources* found;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* query = static_cast<SourceQuery*>(userdata);
  if (info != nullptr && info->default_source_name != nullptr) {
    query->found->DefaultName = info->default_source_name;
  }
  query->connection->Signal();
}

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* query = static_cast<SourceQuery*>(userdata);
  if (eol == 0 && info != nullptr && info->name != nullptr) {
    query->found->Sources.push_back({info->name, info->description ? info->description : "",
                                     info->monitor_of_sink != PA_INVALID_INDEX});
  }
  query->connection->Signal();
}

}  // namespace

std::vector<std::string> ListVideoDevices() {
  std::vector<std::string> names;
  for (const auto& camera : EnumerateCameras()) names.push_back(CameraName(camera.get()));
  return names;
}

SoundSources EnumerateSoundSources() {
  SoundSources found;
  PulseConnection connection;
  if (!connection.Connect(kServerTimeout)) return found;
  SourceQuery query{&connection, &found};
  PulseConnection::Lock lock(connection);
  connection.Complete(pa_context_get_server_info(connection.Context(), OnServerInfo, &query),
                      kServerTimeout);
  connection.Complete(pa_context_get_source_info_list(connection.Context(), OnSourceInfo, &query),
                      kServerTimeout);
  return found;
}

std::vector<SoundListEntry> ListSoundDevices() {
  const SoundSources found = EnumerateSoundSources();
  return BuildSoundList(found.Sources, found.DefaultName, TheAudioDeviceTable());
}

}  // namespace quillon
