// The primary display's size from the system metrics of the primary monitor.
#include <windows.h>

#include <memory>

#include "base/display_info.h"

namespace quillon {
namespace {

class WindowsDisplayInfo : public DisplayInfo {
 public:
  std::optional<ScreenSize> PrimarySize() const override {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) return std::nullopt;
    return ScreenSize{width, height};
  }
  std::string WhyUnavailable() const override { return "the system reports no primary display"; }
};

}  // namespace

std::unique_ptr<DisplayInfo> CreateSystemDisplayInfo() {
  return std::make_unique<WindowsDisplayInfo>();
}

}  // namespace quillon
