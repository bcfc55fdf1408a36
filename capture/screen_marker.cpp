// The pointer marker, the same on every platform once the pointer position is known.
#include <cstring>

#include "capture/screen_grabber.h"

namespace quillon {

bool DrawMarkerAt(uint8_t* buffer, int32_t width, int32_t height, int32_t x, int32_t y) {
  constexpr int kSide = 15;
  if (x + 16 >= width || y + 16 >= height || y <= 16 || x <= 16) return false;
  uint8_t row[kSide * 3];
  for (int i = 0; i < kSide; ++i) {
    row[i * 3 + 0] = 0;    // blue
    row[i * 3 + 1] = 0;    // green
    row[i * 3 + 2] = 255;  // red
  }
  // Buffer row (height - y) is screen line y - 1; the following rows go up the screen.
  for (int r = 0; r < kSide; ++r) {
    size_t offset = (static_cast<size_t>(height - y + r) * static_cast<size_t>(width) +
                     static_cast<size_t>(x)) *
                    3;
    std::memcpy(buffer + offset, row, sizeof row);
  }
  return true;
}

}  // namespace quillon
