// The camera and sound device lists the pickers show. A camera's list position is its DeviceID;
// a sound entry carries the device's identifier (a slot of the process-wide AudioDeviceTable) or
// none. The list logic here is the same on every platform; the enumerations are the platform's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/publisher_settings.h"

namespace quillon {

// The identifiers of the sound devices, 20 slots filled in listing order. Slots never move and
// are never emptied, so an AudioDevice reference stays valid for the whole process.
class AudioDeviceTable {
 public:
  static constexpr size_t kSlots = 20;

  // The slot holding name: the one it already has, else the next free one. nullptr when all
  // slots are taken by other devices.
  const AudioDeviceId* Add(const std::string& name);
  // The same for a device that the platform identifies by a 16-byte GUID as well (Windows).
  const AudioDeviceId* Add(const std::string& name, const std::array<uint8_t, 16>& guid);
  size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::array<AudioDeviceId, kSlots> slots_{};
  size_t count_ = 0;
};

// The one table of the process.
AudioDeviceTable& TheAudioDeviceTable();

// One capture source as the platform's enumeration gives it.
struct SoundSource {
  std::string Name;         // stable identifier (PulseAudio source name)
  std::string Description;  // what the system calls it
  bool IsMonitor = false;   // records what an output plays rather than a microphone
};

// One entry of the sound list.
struct SoundListEntry {
  std::string Description;
  const AudioDeviceId* Device = nullptr;  // none for the system default entry
};

// Text of the first sound entry, the system's default device (opens nothing).
inline constexpr const char* kDefaultSoundDevice = "Primary Sound Capture Driver";
// Monitor sources are shown as this prefix plus the output's description.
inline constexpr const char* kMonitorPrefix = "Monitor of ";

// The sound list: the default entry first, then the source named defaultName, the other
// microphones and the monitor sources, each keeping the enumeration's order. Sources that find no
// slot in table are left out.
std::vector<SoundListEntry> BuildSoundList(const std::vector<SoundSource>& sources,
                                           const std::string& defaultName, AudioDeviceTable& table);

// The AudioDevice that choosing position means: the entry's identifier (nullptr for the default
// entry), or NoAudioSelection() when the list has no such position, as a list without selection
// answers. The window and --headless choose position 1 at start-up.
const AudioDeviceId* SoundChoice(const std::vector<SoundListEntry>& list, int position);
inline constexpr int kStartupSoundPosition = 1;

// Camera names in the order camera capture counts them (position = DeviceID).
std::vector<std::string> ListVideoDevices();

// The capture sources of the sound system and the name of its default source; empty when the
// sound system cannot be reached. (Linux: on Windows the enumeration fills the list directly.)
struct SoundSources {
  std::vector<SoundSource> Sources;
  std::string DefaultName;
};
SoundSources EnumerateSoundSources();

// The sound list of this computer, with its identifiers in TheAudioDeviceTable().
std::vector<SoundListEntry> ListSoundDevices();

}  // namespace quillon
