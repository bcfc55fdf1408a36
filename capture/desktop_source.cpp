#include "capture/desktop_source.h"

#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "capture/screen_grabber_portal.h"
#include "capture/screen_grabber_x11.h"

namespace quillon {

DesktopSourceChoice ChooseDesktopSource(const char* override, const char* sessionType,
                                        const char* waylandDisplay) {
  const auto set = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  if (set(override)) {
    if (std::strcmp(override, "x11") == 0)
      return {DesktopSource::kX11, "QUILLON_DESKTOP_SOURCE=x11"};
    if (std::strcmp(override, "portal") == 0)
      return {DesktopSource::kPortal, "QUILLON_DESKTOP_SOURCE=portal"};
    LogWarning("QUILLON_DESKTOP_SOURCE=%s is neither x11 nor portal; ignored", override);
  }
  if (set(sessionType) && std::strcmp(sessionType, "wayland") == 0)
    return {DesktopSource::kPortal, "XDG_SESSION_TYPE=wayland"};
  if (set(waylandDisplay))
    return {DesktopSource::kPortal, std::string("WAYLAND_DISPLAY=") + waylandDisplay};
  return {DesktopSource::kX11, "no Wayland session"};
}

DesktopSourceChoice ChooseDesktopSource() {
  return ChooseDesktopSource(std::getenv("QUILLON_DESKTOP_SOURCE"), std::getenv("XDG_SESSION_TYPE"),
                             std::getenv("WAYLAND_DISPLAY"));
}

std::string DescribeDesktopSource() {
  const DesktopSourceChoice choice = ChooseDesktopSource();
  return choice.Source == DesktopSource::kPortal
             ? "the Wayland desktop through the screen-sharing portal and PipeWire (" +
                   choice.Reason + ")"
             : "the X server's desktop (" + choice.Reason + ")";
}

std::unique_ptr<ScreenGrabber> CreateScreenGrabber(const std::filesystem::path& settingsFolder) {
  if (ChooseDesktopSource().Source == DesktopSource::kPortal) {
    return std::make_unique<ScreenGrabberPortal>(
        settingsFolder.empty() ? settingsFolder : settingsFolder / "screencast.token");
  }
  auto grabber = std::make_unique<ScreenGrabberX11>();
  if (!grabber->Connected()) return nullptr;
  return grabber;
}

}  // namespace quillon
