// The GDI desktop grab against a window this test paints itself. Needs a display: under Wine,
// tests/win_screen_grab.sh runs it on an Xvfb of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "capture/screen_grabber.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

constexpr int kLeft = 40;
constexpr int kTop = 30;
constexpr int kWidth = 200;
constexpr int kHeight = 120;

// The colour the window paints at its pixel (x, y), as blue, green, red.
void PatternAt(int x, int y, uint8_t* bgr) {
  bgr[0] = static_cast<uint8_t>(x * 7 + y);
  bgr[1] = static_cast<uint8_t>(y * 5 + 17);
  bgr[2] = static_cast<uint8_t>(x * 3 + y * 11);
}

LRESULT CALLBACK PatternWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x)
      PatternAt(x, y, &pixels[(static_cast<size_t>(y) * kWidth + x) * 4]);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = -kHeight;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, pixels.data(), &info,
                    DIB_RGB_COLORS);
  EndPaint(window, &paint);
  return 0;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A top-most borderless window at (kLeft, kTop) showing the pattern.
class PatternWindow {
 public:
  PatternWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PatternWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillonGrabPattern";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"QuillonGrabPattern", L"",
                              WS_POPUP | WS_VISIBLE, kLeft, kTop, kWidth, kHeight, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(window_);
    PumpMessages();
  }
  ~PatternWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  PatternWindow(const PatternWindow&) = delete;
  PatternWindow& operator=(const PatternWindow&) = delete;

  bool Created() const { return window_ != nullptr; }

 private:
  HWND window_ = nullptr;
};

// Where the pattern window's pixels in a width x height grab differ from the pattern: the count,
// and the first one in words.
struct Mismatch {
  int Count = 0;
  std::string First;
};

Mismatch CompareWithPattern(const uint8_t* picture, int width, int height) {
  Mismatch mismatch;
  for (int y = 0; y < kHeight && kTop + y < height; ++y) {
    const int line = kTop + y;
    const uint8_t* row = picture + static_cast<size_t>(height - 1 - line) * width * 3;
    for (int x = 0; x < kWidth && kLeft + x < width; ++x) {
      uint8_t want[3];
      PatternAt(x, y, want);
      const uint8_t* got = row + static_cast<size_t>(kLeft + x) * 3;
      if (got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) continue;
      if (mismatch.Count++ == 0) {
        mismatch.First = "screen (" + std::to_string(kLeft + x) + ", " + std::to_string(line) +
                         "): got " + std::to_string(got[0]) + "/" + std::to_string(got[1]) + "/" +
                         std::to_string(got[2]) + ", want " + std::to_string(want[0]) + "/" +
                         std::to_string(want[1]) + "/" + std::to_string(want[2]);
      }
    }
  }
  return mismatch;
}

// Grabs width x height into a buffer with guard bytes on both sides until the pattern window
// shows in it (the window appears on the X server a little after it is created), then checks
// that the grab wrote nothing outside width * height * 3 bytes.
Mismatch GrabUntilPatternShows(ScreenGrabber& grabber, int width, int height) {
  constexpr size_t kGuard = 64;
  constexpr uint8_t kGuardByte = 0xA5;
  const size_t bytes = static_cast<size_t>(width) * height * 3;
  std::vector<uint8_t> buffer(bytes + 2 * kGuard, kGuardByte);
  Mismatch mismatch;
  const auto end = std::chrono::steady_clock::now() + 10s;
  do {
    PumpMessages();
    grabber.GrabScreen(buffer.data() + kGuard, width, height);
    mismatch = CompareWithPattern(buffer.data() + kGuard, width, height);
    if (mismatch.Count == 0) break;
    std::this_thread::sleep_for(50ms);
  } while (std::chrono::steady_clock::now() < end);
  int before = 0;
  int after = 0;
  for (size_t i = 0; i < kGuard; ++i) {
    before += buffer[i] != kGuardByte;
    after += buffer[kGuard + bytes + i] != kGuardByte;
  }
  EXPECT_EQ(before, 0) << "bytes written before the buffer, " << width << "x" << height;
  EXPECT_EQ(after, 0) << "bytes written past the end, " << width << "x" << height;
  return mismatch;
}

class ScreenGrabberGdiTest : public ::testing::Test {
 protected:
  // One window for all the tests: it takes a moment to appear.
  static void SetUpTestSuite() { window_ = new PatternWindow; }
  static void TearDownTestSuite() {
    delete window_;
    window_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(window_->Created());
    ASSERT_NE(grabber_, nullptr);
  }

  static inline PatternWindow* window_ = nullptr;
  std::unique_ptr<ScreenGrabber> grabber_ = CreateScreenGrabber();
};

TEST_F(ScreenGrabberGdiTest, GrabsTheWindowPixelForPixelBottomUp) {
  const Mismatch mismatch = GrabUntilPatternShows(*grabber_, 320, 240);
  EXPECT_EQ(mismatch.Count, 0) << mismatch.First;
}

TEST_F(ScreenGrabberGdiTest, WidthsWithPaddedSystemRowsStayInsideTheBuffer) {
  // 24-bit rows of these widths are not a multiple of 4 bytes long; the system pads its rows.
  for (int width : {1, 2, 3, 5, 201, 243}) {
    for (int height : {1, 7, 151}) {
      const Mismatch mismatch = GrabUntilPatternShows(*grabber_, width, height);
      EXPECT_EQ(mismatch.Count, 0) << width << "x" << height << ": " << mismatch.First;
    }
  }
}

// Moves the pointer and waits until the system reports it there.
bool MovePointer(int x, int y) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < end) {
    SetCursorPos(x, y);
    PumpMessages();
    POINT at{};
    if (GetCursorPos(&at) && at.x == x && at.y == y) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST_F(ScreenGrabberGdiTest, MarkerSitsAboveAndRightOfThePointer) {
  constexpr int kW = 320;
  constexpr int kH = 240;
  ASSERT_TRUE(MovePointer(100, 80));
  std::vector<uint8_t> picture(kW * kH * 3, 0);
  ASSERT_TRUE(grabber_->DrawCursorMarker(picture.data(), kW, kH));
  for (int line = 0; line < kH; ++line) {
    for (int column = 0; column < kW; ++column) {
      const uint8_t* pixel = &picture[(static_cast<size_t>(kH - 1 - line) * kW + column) * 3];
      const bool inside = column >= 100 && column <= 114 && line >= 65 && line <= 79;
      ASSERT_EQ(pixel[0], 0) << column << "," << line;
      ASSERT_EQ(pixel[1], 0) << column << "," << line;
      ASSERT_EQ(pixel[2], inside ? 255 : 0) << column << "," << line;
    }
  }

  // Too close to the left or the right edge: nothing is painted.
  std::vector<uint8_t> untouched(kW * kH * 3, 7);
  ASSERT_TRUE(MovePointer(16, 100));
  EXPECT_FALSE(grabber_->DrawCursorMarker(untouched.data(), kW, kH));
  ASSERT_TRUE(MovePointer(kW - 16, 100));
  EXPECT_FALSE(grabber_->DrawCursorMarker(untouched.data(), kW, kH));
  EXPECT_EQ(untouched, std::vector<uint8_t>(kW * kH * 3, 7));
}

}  // namespace
}  // namespace quillon
