// The DirectShow graph without a camera: tests/win_devices_video.sh makes a small uncompressed
// AVI (top half red, bottom half blue) and names it in QUILLON_TEST_VIDEO_FILE; the file source
// stands in for the camera before the sample grabber, the callback and the preview.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "devices/capture_video_dshow.h"
#include "devices/testing/recording_sinks.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

using testing::Recorder;

// Whether every pixel of row y is (b, g, r) within a small tolerance.
bool RowIs(const std::vector<uint8_t>& frame, int width, int y, int b, int g, int r) {
  const size_t row = static_cast<size_t>(width) * 3;
  for (int x = 0; x < width; ++x) {
    const uint8_t* pixel = frame.data() + static_cast<size_t>(y) * row + size_t{3} * x;
    if (std::abs(pixel[0] - b) > 3 || std::abs(pixel[1] - g) > 3 || std::abs(pixel[2] - r) > 3) {
      return false;
    }
  }
  return true;
}

TEST(CaptureVideoDShow, NoCameraOrAnUnknownOneFailsWithoutMessage) {
  testing::MessageLog messages;
  // No camera here: every index is past the end of the (empty) list.
  EXPECT_EQ(CreateCaptureVideo()->Open(-1, 0, 320, 240, 15), 1);
  EXPECT_EQ(CreateCaptureVideo()->Open(0, 0, 320, 240, 15), 1);
  CreateCaptureVideo()->Stop();
  EXPECT_TRUE(messages.Texts().empty());
}

TEST(CaptureVideoDShow, FileFramesReachTheSinkAsRgb24AndThePreviewIsAChild) {
  const char* path = std::getenv("QUILLON_TEST_VIDEO_FILE");
  if (path == nullptr) GTEST_SKIP() << "needs a test video (win_devices_video.sh)";
  constexpr int kWidth = 160;
  constexpr int kHeight = 120;
  const std::wstring file(path, path + std::strlen(path));

  HWND owner = CreateWindowExW(0, L"STATIC", L"preview", WS_OVERLAPPEDWINDOW, 0, 0, 200, 160,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  Recorder frames;
  auto capture = CreateFileCaptureVideo(file);
  ASSERT_EQ(capture->Open(0, reinterpret_cast<PreviewWindow>(owner), 0, 0, 0), 0);
  capture->SetFrameSink(true, &frames);
  EXPECT_EQ(capture->Open(0, reinterpret_cast<PreviewWindow>(owner), 0, 0, 0), 1);
  EXPECT_NE(GetWindow(owner, GW_CHILD), nullptr) << "the preview is not inside its owner";

  for (int i = 0; i < 100 && frames.Lengths().size() < 5; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    std::this_thread::sleep_for(20ms);
  }
  capture->Stop();
  capture->SetFrameSink(false, nullptr);
  const size_t count = frames.Lengths().size();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(frames.Lengths().size(), count) << "frames after the stop";
  DestroyWindow(owner);

  ASSERT_GE(count, 5u);
  for (int32_t length : frames.Lengths()) EXPECT_EQ(length, kWidth * kHeight * 3);
  const std::vector<double> times = frames.Times();
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]);
  // One half red, the other blue, whichever way up the file stores its rows.
  const std::vector<uint8_t> last = frames.Bytes();
  const bool redFirst = RowIs(last, kWidth, 0, 0, 0, 255);
  EXPECT_TRUE(redFirst || RowIs(last, kWidth, 0, 255, 0, 0));
  EXPECT_TRUE(redFirst ? RowIs(last, kWidth, kHeight - 1, 255, 0, 0)
                       : RowIs(last, kWidth, kHeight - 1, 0, 0, 255));
}

}  // namespace
}  // namespace quillon
