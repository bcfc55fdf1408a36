// The window's interfaces joined to the real parts of the program: config.ini through the settings
// reader, the capture session, and the system's device lists.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/display_info.h"
#include "base/user_messages.h"
#include "window/publisher_dlg_logic.h"

namespace quillon {

// config.ini beside the program.
class FileSettingsStore : public SettingsStore {
 public:
  FileSettingsStore(const DisplayInfo& display, UserMessages& messages)
      : display_(display), messages_(messages) {}
  bool ReadSettings(PublisherSettings& record, WindowValues& values,
                    std::string& streamName) override;
  void WriteBackSettings(const PublisherSettings& record, const WindowValues& values) override;

 private:
  const DisplayInfo& display_;
  UserMessages& messages_;
};

// A capture session with this platform's encoder library, screen, camera and sound.
class CaptureSessionFactory : public SessionFactory {
 public:
  std::unique_ptr<ClassSession> Create(PublisherSettings& record) override;
};

// The cameras and sound devices of this computer.
class SystemDeviceLists : public DeviceLists {
 public:
  std::vector<std::string> CameraNames() override;
  std::vector<SoundListItem> SoundDevices() override;
};

}  // namespace quillon
