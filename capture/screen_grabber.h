// The desktop grab of the frame tick: the top-left width x height rectangle of the screen as a
// 24-bit blue-green-red picture with bottom-up rows, and the red marker beside the pointer.
#pragma once

#include <cstdint>
#include <memory>

namespace quillon {

class ScreenGrabber {
 public:
  virtual ~ScreenGrabber() = default;

  // Fills buffer (width * height * 3 bytes) with the top-left width x height of the screen; what
  // lies outside the real screen comes out black. When the screen cannot be read the buffer is
  // left as it was.
  virtual void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) = 0;

  // Paints the pointer marker into a picture laid out like GrabScreen's. true when painted, false
  // when the pointer lies too close to an edge (or is not known).
  virtual bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) = 0;
};

// The marker for a pointer hot spot at (x, y), screen coordinates from the top-left: a 15 x 15
// red square covering columns x to x + 14 and screen lines y - 15 to y - 1. Nothing is painted,
// and the result is false, when x or y is 16 or less or lies within 16 pixels of the right or
// bottom edge.
bool DrawMarkerAt(uint8_t* buffer, int32_t width, int32_t height, int32_t x, int32_t y);

// The screen of this platform; nullptr when there is none to open (no display).
std::unique_ptr<ScreenGrabber> CreateScreenGrabber();

}  // namespace quillon
