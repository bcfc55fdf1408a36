// The window's interfaces joined to the real parts of the program: config.ini through the settings
// reader, the capture session, and the system's device lists.
#pragma once

#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/display_info.h"
#include "base/user_messages.h"
#include "capture/encoder_library.h"
#include "launch/settings.h"
#include "window/publisher_dlg_logic.h"

namespace quillon {

// The settings file, config.ini beside the program.
class FileSettingsStore : public SettingsStore {
 public:
  FileSettingsStore(const DisplayInfo& display, UserMessages& messages,
                    std::filesystem::path programFolder)
      : display_(display),
        messages_(messages),
        programFolder_(std::move(programFolder)),
        choiceWriter_(messages) {}
  bool ReadSettings(PublisherSettings& record, WindowValues& values,
                    std::string& streamName) override;
  void WriteBackSettings(const PublisherSettings& record, const WindowValues& values) override;
  bool TakeLaunchRequest(const std::string& launchUrl) override;

 private:
  const DisplayInfo& display_;
  UserMessages& messages_;
  const std::filesystem::path programFolder_;
  ChoiceWriter choiceWriter_;  // tells once per run when the choices could not be saved
};

// A capture session with this platform's encoder library (from the program's folder), screen,
// camera and sound. The library, once loaded, stays loaded for the next classes; one that could
// not be loaded is tried again at the next class.
class CaptureSessionFactory : public SessionFactory {
 public:
  explicit CaptureSessionFactory(std::filesystem::path programFolder)
      : programFolder_(std::move(programFolder)) {}
  std::unique_ptr<ClassSession> Create(PublisherSettings& record) override;
  // Loads the library on a thread of its own.
  void Prepare() override;

 private:
  const std::filesystem::path programFolder_;
  std::future<std::shared_ptr<const EncoderLibrary>> loading_;
  std::shared_ptr<const EncoderLibrary> library_;
};

// The cameras and sound devices of this computer.
class SystemDeviceLists : public DeviceLists {
 public:
  std::vector<std::string> CameraNames() override;
  std::vector<SoundListItem> SoundDevices() override;
};

// Everything a window of this program is joined to, for the program in programFolder: its
// config.ini, capture sessions and the system's devices. Messages go to messages.
struct WindowPorts {
  WindowPorts(UserMessages& messages, const std::filesystem::path& programFolder);

  const std::unique_ptr<DisplayInfo> display;
  FileSettingsStore store;
  CaptureSessionFactory sessions;
  SystemDeviceLists devices;
};

}  // namespace quillon
