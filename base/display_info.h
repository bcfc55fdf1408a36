// The size of the primary display, as the settings reader needs it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillon {

struct ScreenSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

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
