// Which desktop a class publishes on Linux: the X server's, or a Wayland session's through the
// desktop portal (the X server there is only XWayland, which shows none of the desktop).
#pragma once

#include <string>

namespace quillon {

enum class DesktopSource { kX11, kPortal };

struct DesktopSourceChoice {
  DesktopSource Source = DesktopSource::kX11;
  std::string Reason;  // which variable decided
};

// QUILLON_DESKTOP_SOURCE=x11|portal decides when set to one of those; otherwise
// XDG_SESSION_TYPE=wayland or a WAYLAND_DISPLAY mean the portal. nullptr for an unset variable.
DesktopSourceChoice ChooseDesktopSource(const char* override, const char* sessionType,
                                        const char* waylandDisplay);
// The same from this process's environment.
DesktopSourceChoice ChooseDesktopSource();

}  // namespace quillon
