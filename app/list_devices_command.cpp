// quillon-publisher --list-devices: both device lists with the positions that DeviceID and the
// sound choice mean. Names are printed in the system's code page (UTF-8 on Linux, the ANSI code
// page on Windows), so the terminal shows them as the window does.
#include <cstdio>

#include "app/publisher_app.h"
#include "base/ansi_text.h"
#include "capture/screen_grabber.h"
#include "devices/device_lists.h"

namespace quillon {

int RunListDevices() {
  // First, so that the sound list stays the last block (scripts read it to the end).
  std::printf("Desktop source: %s\n", DescribeDesktopSource().c_str());
  const std::vector<std::string> cameras = ListVideoDevices();
  std::printf("Cameras (DeviceID):\n");
  if (cameras.empty()) std::printf("  none\n");
  for (size_t i = 0; i < cameras.size(); ++i)
    std::printf("  %zu  %s\n", i, Utf8ToAnsi(cameras[i]).c_str());

  const std::vector<SoundListEntry> sound = ListSoundDevices();
  std::printf("Sound devices (position; the window and --headless choose 1):\n");
  for (size_t i = 0; i < sound.size(); ++i) {
    if (sound[i].Device != nullptr) {
      std::printf("  %zu  %s  [%s]\n", i, Utf8ToAnsi(sound[i].Description).c_str(),
                  sound[i].Device->Name.c_str());
    } else {
      std::printf("  %zu  %s  (records nothing)\n", i, Utf8ToAnsi(sound[i].Description).c_str());
    }
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace quillon
