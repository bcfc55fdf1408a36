// What the desktop-grab tests of every platform check: a pattern the test puts on the screen,
// grabs that must show it pixel for pixel, bottom-up, without writing outside the buffer, and the
// pointer marker.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/screen_grabber.h"

namespace quillon::testing {

// Where the pattern stands on the screen, from the top-left.
constexpr int kPatternLeft = 40;
constexpr int kPatternTop = 30;
constexpr int kPatternWidth = 200;
constexpr int kPatternHeight = 120;

// The pattern's colour at its pixel (x, y), as blue, green, red.
inline void PatternAt(int x, int y, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>(x * 7 + y);
  bgr[1] = static_cast<uint8_t>(y * 5 + 17);
  bgr[2] = static_cast<uint8_t>(x * 3 + y * 11);
}

// The pattern as 32-bit blue-green-red-x pixels, rows top-down: what a 32-bit DIB and a 24-bit
// deep X image both take.
inline std::vector<uint8_t> PatternPixels() {
  std::vector<uint8_t> pixels(static_cast<size_t>(kPatternWidth) * kPatternHeight * 4);
  for (int y = 0; y < kPatternHeight; ++y) {
    for (int x = 0; x < kPatternWidth; ++x)
      PatternAt(x, y, &pixels[(static_cast<size_t>(y) * kPatternWidth + x) * 4]);
  }
  return pixels;
}

// What a grab got wrong: how many pixels differ from the pattern or from black beyond the screen,
// or bytes written outside the buffer, and the first one in words.
struct Mismatch {
  int Count = 0;
  std::string First;
  void Add(const std::string& what) {
    if (Count++ == 0) First = what;
  }
};

// Grabs width x height into a buffer with guard bytes on both sides and compares the part of the
// pattern that falls inside it, and black wherever it reaches beyond a screen of screenWidth x
// screenHeight.
inline Mismatch GrabAndCompare(ScreenGrabber& grabber, int width, int height, int screenWidth,
                               int screenHeight) {
  constexpr size_t kGuard = 64;
  constexpr uint8_t kGuardByte = 0xA5;
  const size_t bytes = static_cast<size_t>(width) * height * 3;
  std::vector<uint8_t> buffer(bytes + 2 * kGuard, kGuardByte);
  const uint8_t* grab = buffer.data() + kGuard;
  grabber.GrabScreen(buffer.data() + kGuard, width, height);
  Mismatch mismatch;
  for (size_t i = 0; i < kGuard; ++i) {
    if (buffer[i] != kGuardByte) mismatch.Add("a byte written before the buffer");
    if (buffer[kGuard + bytes + i] != kGuardByte) mismatch.Add("a byte written past its end");
  }
  for (int line = 0; line < height; ++line) {
    const uint8_t* row = grab + static_cast<size_t>(height - 1 - line) * width * 3;
    for (int column = 0; column < width; ++column) {
      const int x = column - kPatternLeft;
      const int y = line - kPatternTop;
      uint8_t want[3] = {0, 0, 0};
      if (x >= 0 && x < kPatternWidth && y >= 0 && y < kPatternHeight) {
        PatternAt(x, y, want);
      } else if (column < screenWidth && line < screenHeight) {
        continue;  // the rest of the screen shows whatever it shows
      }
      const uint8_t* got = row + static_cast<size_t>(column) * 3;
      if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) {
        mismatch.Add("the first at screen (" + std::to_string(column) + ", " +
                     std::to_string(line) + ")");
      }
    }
  }
  return mismatch;
}

// GrabAndCompare as a test's check; the screen as large as the grab unless given.
inline ::testing::AssertionResult ShowsThePattern(ScreenGrabber& grabber, int width, int height,
                                                  int screenWidth = 0, int screenHeight = 0) {
  const Mismatch mismatch =
      GrabAndCompare(grabber, width, height, screenWidth ? screenWidth : width,
                     screenHeight ? screenHeight : height);
  if (mismatch.Count == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << width << "x" << height << ": " << mismatch.Count << " wrong, " << mismatch.First;
}

// Grabs rectangles of many sizes, among them widths whose 24-bit rows are not a multiple of 4
// bytes long (rows the system may pad): each shows the part of the pattern inside it. Given the
// screen's size, also rectangles that reach beyond it, which must be black there.
inline void ExpectEverySizeToShowThePattern(ScreenGrabber& grabber, int screenWidth = 0,
                                            int screenHeight = 0) {
  std::vector<int> widths = {1, 2, 3, 5, 201, 243};
  std::vector<int> heights = {1, 7, 151};
  if (screenWidth > 0) widths.push_back(screenWidth + 40);
  if (screenHeight > 0) heights.push_back(screenHeight + 20);
  for (int width : widths) {
    for (int height : heights)
      EXPECT_TRUE(ShowsThePattern(grabber, width, height, screenWidth, screenHeight));
  }
}

// The marker of a 320 x 240 picture: with the pointer at (x, y), 17 to 303 and 17 to 223, exactly
// the 15 x 15 square of columns x to x + 14 and screen lines y - 15 to y - 1 turns red and nothing
// else changes; with the pointer 16 pixels from any edge of the picture, or outside the inner
// margin of a smaller one, nothing is painted. movePointer puts the system's pointer at a screen
// position (false when it could not).
inline void ExpectTheMarkerBesideThePointer(ScreenGrabber& grabber,
                                            const std::function<bool(int, int)>& movePointer) {
  constexpr int kW = 320;
  constexpr int kH = 240;
  const std::vector<uint8_t> untouched(kW * kH * 3, 7);
  for (auto [x, y] : {std::pair{17, 17}, {kW - 17, kH - 17}}) {
    std::vector<uint8_t> picture = untouched;
    ASSERT_TRUE(movePointer(x, y));
    ASSERT_TRUE(grabber.DrawCursorMarker(picture.data(), kW, kH)) << x << "," << y;
    for (int line = 0; line < kH; ++line) {
      for (int column = 0; column < kW; ++column) {
        const uint8_t* pixel = &picture[(static_cast<size_t>(kH - 1 - line) * kW + column) * 3];
        const bool inside = column >= x && column < x + 15 && line >= y - 15 && line < y;
        ASSERT_EQ(pixel[0], inside ? 0 : 7) << column << "," << line;
        ASSERT_EQ(pixel[1], inside ? 0 : 7) << column << "," << line;
        ASSERT_EQ(pixel[2], inside ? 255 : 7) << column << "," << line;
      }
    }
  }
  std::vector<uint8_t> picture = untouched;
  for (auto [x, y] : {std::pair{16, 100}, {100, 16}, {kW - 16, 100}, {100, kH - 16}}) {
    ASSERT_TRUE(movePointer(x, y));
    EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), kW, kH)) << x << "," << y;
  }
  ASSERT_TRUE(movePointer(100, 100));
  EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), 64, 48));
  EXPECT_EQ(picture, untouched);
}

}  // namespace quillon::testing
