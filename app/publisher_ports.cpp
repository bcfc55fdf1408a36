#include "app/publisher_ports.h"

#include <new>

#include "base/log.h"
#include "capture/capture_session.h"
#include "devices/device_lists.h"
#include "launch/class_address.h"
#include "launch/settings.h"

namespace quillon {
namespace {

class CaptureClassSession final : public ClassSession {
 public:
  CaptureClassSession(const PublisherSettings& record, const std::filesystem::path& programFolder,
                      std::shared_ptr<const EncoderLibrary> library)
      : session_(record, PlatformCaptureParts(programFolder, std::move(library))) {}
  bool Connect() override { return session_.StartEncoder(); }
  void CancelConnect() override { session_.CancelStart(); }
  void StartCapture(PreviewWindow preview) override { session_.StartCapture(preview); }
  void Stop() override { session_.Stop(); }
  bool IsRunning() const override { return session_.IsRunning(); }
  ClassReading Read() override { return session_.Read(); }
  uint32_t StartFailure() const override { return session_.StartFailure(); }

 private:
  CaptureSession session_;
};

WindowSettings WindowSettingsOf(const PublisherSettings& record, const WindowValues& values) {
  WindowSettings window;
  window.Record = std::make_unique<PublisherSettings>(record);
  window.Choices = {values.HaveAudio, values.DeviceID, values.Bitrate, values.VideoStyle};
  return window;
}

}  // namespace

bool FileSettingsStore::ReadSettings(PublisherSettings& record, WindowValues& values,
                                     std::string& streamName) {
  WindowSettings window = WindowSettingsOf(record, values);
  const bool result =
      quillon::ReadSettings(window, display_, messages_, SettingsFileIn(programFolder_));
  // Refilled in place: a session made from this record keeps reading the same object.
  record = *window.Record;
  values = {window.Choices.HaveAudio, window.Choices.DeviceID, window.Choices.Bitrate,
            window.Choices.VideoStyle};
  streamName = window.StreamName;
  return result;
}

void FileSettingsStore::WriteBackSettings(const PublisherSettings& record,
                                          const WindowValues& values) {
  choiceWriter_.WriteBack(WindowSettingsOf(record, values), SettingsFileIn(programFolder_));
}

bool FileSettingsStore::TakeLaunchRequest(const std::string& launchUrl) {
  return TakeClassAddress(launchUrl, programFolder_, messages_);
}

WindowPorts::WindowPorts(UserMessages& messages, const std::filesystem::path& programFolder)
    : display(CreateSystemDisplayInfo()),
      store(*display, messages, programFolder),
      sessions(programFolder) {}

void CaptureSessionFactory::Prepare() {
  if (library_ || loading_.valid()) return;
  loading_ = std::async(std::launch::async,
                        [folder = programFolder_] { return LoadEncoderLibraryFromFolder(folder); });
}

std::unique_ptr<ClassSession> CaptureSessionFactory::Create(PublisherSettings& record) {
  if (loading_.valid()) library_ = loading_.get();
  // Without a library (none was prepared, or it could not be loaded) the session loads it, and
  // says why it cannot.
  try {
    return std::make_unique<CaptureClassSession>(record, programFolder_, library_);
  } catch (const std::bad_alloc&) {
    LogError("not enough memory for the pictures of a class (screen %dx%d, camera %dx%d)",
             record.ScreenWidth, record.ScreenHeight, record.VideoWidth, record.VideoHeight);
    return nullptr;
  }
}

std::vector<std::string> SystemDeviceLists::CameraNames() {
  return ListVideoDevices();
}

std::vector<SoundListItem> SystemDeviceLists::SoundDevices() {
  std::vector<SoundListItem> items;
  for (const SoundListEntry& entry : ListSoundDevices()) {
    items.push_back({entry.Description, entry.Device});
  }
  return items;
}

}  // namespace quillon
