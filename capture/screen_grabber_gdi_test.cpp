// The GDI desktop grab against a window this test paints itself. Needs a display: under Wine,
// tests/win_screen_grab.sh runs it on an Xvfb of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/testing/wait_for.h"
#include "capture/screen_grabber.h"
#include "capture/testing/screen_checks.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::kPatternHeight;
using testing::kPatternWidth;

LRESULT CALLBACK PatternWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  const std::vector<uint8_t> pixels = testing::PatternPixels();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kPatternWidth;
  info.bmiHeader.biHeight = -kPatternHeight;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, 0, 0, kPatternWidth, kPatternHeight, 0, 0, 0, kPatternHeight, pixels.data(),
                    &info, DIB_RGB_COLORS);
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

struct WindowDeleter {
  void operator()(HWND window) const { DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

// A top-most borderless window showing the pattern where it belongs on the screen.
UniqueWindow ShowPatternWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = PatternWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuillonGrabPattern";
  RegisterClassW(&windowClass);
  UniqueWindow window(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"QuillonGrabPattern", L"",
                                      WS_POPUP | WS_VISIBLE, testing::kPatternLeft,
                                      testing::kPatternTop, kPatternWidth, kPatternHeight, nullptr,
                                      nullptr, GetModuleHandleW(nullptr), nullptr));
  UpdateWindow(window.get());
  PumpMessages();
  return window;
}

class ScreenGrabberGdiTest : public ::testing::Test {
 protected:
  // One window for all the tests: it takes a moment to appear on the X server.
  static void SetUpTestSuite() { window_ = ShowPatternWindow(); }
  static void TearDownTestSuite() { window_.reset(); }
  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    ASSERT_NE(grabber_, nullptr);
    // The window shows on the X server a little after it is made.
    testing::Mismatch mismatch;
    WaitFor(
        [&] {
          mismatch = testing::GrabAndCompare(*grabber_, 320, 240, 320, 240);
          return mismatch.Count == 0;
        },
        10s,
        [] {
          std::this_thread::sleep_for(50ms);
          PumpMessages();
        });
    ASSERT_EQ(mismatch.Count, 0) << "the window pixel for pixel, bottom-up: " << mismatch.First;
  }

  static inline UniqueWindow window_;
  std::unique_ptr<ScreenGrabber> grabber_ = CreateScreenGrabber();
};

TEST_F(ScreenGrabberGdiTest, EverySizeStaysInsideTheBuffer) {
  // Rectangles larger than the screen too: black beyond it, the screen's part as it is.
  testing::ExpectEverySizeToShowThePattern(*grabber_, GetSystemMetrics(SM_CXSCREEN),
                                           GetSystemMetrics(SM_CYSCREEN));
}

TEST_F(ScreenGrabberGdiTest, MarkerSitsAboveAndRightOfThePointer) {
  testing::ExpectTheMarkerBesideThePointer(*grabber_, MovePointer);
}

}  // namespace
}  // namespace quillon
