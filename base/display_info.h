// The size of the primary display, as the settings reader needs it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct ScreenSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

// One monitor as the system lists it.
struct MonitorArea {
  ScreenSize Size;
  bool Primary = false;
};

// The primary display among the monitors the system lists: the one marked primary, otherwise the
// first; none for an empty list or a monitor without area.
inline std::optional<ScreenSize> PrimaryOf(const std::vector<MonitorArea>& monitors) {
  const MonitorArea* chosen = monitors.empty() ? nullptr : &monitors.front();
  for (const MonitorArea& monitor : monitors) {
    if (monitor.Primary) {
      chosen = &monitor;
      break;
    }
  }
  if (chosen == nullptr || chosen->Size.Width <= 0 || chosen->Size.Height <= 0) return std::nullopt;
  return chosen->Size;
}

class DisplayInfo {
 public:
  virtual ~DisplayInfo() = default;
  // The primary display's size in pixels, or nullopt when there is no display to ask.
  virtual std::optional<ScreenSize> PrimarySize() const = 0;
  // Why PrimarySize has no answer, for the operator.
  virtual std::string WhyUnavailable() const { return "no display"; }
};

// The display of the platform this program runs on (the X server on Linux).
std::unique_ptr<DisplayInfo> CreateSystemDisplayInfo();

}  // namespace quillon
