#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "base/testing/wait_for.h"
#include "base/testing/xvfb.h"
#include "devices/capture_video.h"
#include "devices/device_lists.h"
#include "devices/testing/recording_sinks.h"
#include "devices/testing/test_cameras.h"
#include "devices/testing/test_support.h"

// Last: Xlib defines macros that clash with other headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quillon {
namespace {

using namespace std::chrono_literals;

using testing::Recorder;

class CaptureVideoGstTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::RegisterTestCameras(); }

  // The test cameras are listed one after the other, in the order they were probed.
  void SetUp() override {
    const std::vector<std::string> names = ListVideoDevices();
    const auto a = std::find(names.begin(), names.end(), testing::kCameraA);
    ASSERT_GE(names.end() - a, 3);
    EXPECT_EQ(a[1], testing::kCameraB);
    EXPECT_EQ(a[2], testing::kCameraC);
    cameraA_ = static_cast<int32_t>(a - names.begin());
    cameraB_ = cameraA_ + 1;
    cameraC_ = cameraA_ + 2;
  }
  void TearDown() override { capture_->SetFrameSink(false, nullptr); }

  // Runs camera at width x height until count frames came, stops it and returns the last frame;
  // every frame must have been width x height x 3 bytes.
  std::vector<uint8_t> LastFrame(int32_t camera, int32_t width, int32_t height, int32_t rate,
                                 size_t count = 2) {
    EXPECT_EQ(capture_->Open(camera, 0, width, height, rate), 0);
    capture_->SetFrameSink(true, &sink_);
    EXPECT_TRUE(sink_.WaitForPieces(count));
    capture_->Stop();
    for (int32_t length : sink_.Lengths()) EXPECT_EQ(length, width * height * 3);
    return sink_.Bytes();
  }

  int32_t cameraA_ = -1, cameraB_ = -1, cameraC_ = -1;
  testing::MessageLog messages_;
  Recorder sink_;
  std::unique_ptr<CCaptureVideo> capture_ = CreateCaptureVideo();
};

// A width that is not a multiple of 4 (rows that GStreamer pads) gives packed, bottom-up rows:
// each frame is width x height x 3 bytes and row r is row height - 1 - r of the camera's picture.
TEST_F(CaptureVideoGstTest, FramesArePackedBottomUpBgrAtTheRequestedSizeAndRate) {
  constexpr int kWidth = 322;
  constexpr int kHeight = 240;
  const std::vector<uint8_t> reference = testing::CameraAReference(kWidth, kHeight);
  ASSERT_EQ(reference.size(), size_t{kWidth} * kHeight * 3);
  const std::vector<uint8_t> frame = LastFrame(cameraA_, kWidth, kHeight, 15, 8);
  ASSERT_EQ(frame.size(), reference.size());
  const size_t row = kWidth * 3;
  int worst = 0;
  for (size_t y = 0; y < kHeight; ++y) {
    // The right part of the pattern's bottom holds noise that changes from frame to frame.
    for (size_t x = 0; x < row * 2 / 3; ++x) {
      const int diff = frame[y * row + x] - reference[(kHeight - 1 - y) * row + x];
      worst = std::max(worst, std::abs(diff));
    }
  }
  EXPECT_LE(worst, 2);
  EXPECT_TRUE(messages_.Texts().empty());
  const std::vector<double> times = sink_.Times();
  const double period = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
  EXPECT_NEAR(period, 1.0 / 15, 0.005);
}

TEST_F(CaptureVideoGstTest, MjpgCameraIsDecoded) {
  const std::vector<uint8_t> frame = LastFrame(cameraB_, 320, 240, 15);
  ASSERT_EQ(frame.size(), 320u * 240 * 3);
  const uint8_t* middle = &frame[(120 * 320 + 160) * 3];
  EXPECT_LT(middle[0], 30);   // blue
  EXPECT_LT(middle[1], 30);   // green
  EXPECT_GT(middle[2], 220);  // red
}

// A camera with none of the preferred formats runs in the last one it offers.
TEST_F(CaptureVideoGstTest, CameraWithoutPreferredFormatsStillRuns) {
  const std::vector<uint8_t> frame = LastFrame(cameraC_, 322, 240, 30);
  ASSERT_EQ(frame.size(), 322u * 240 * 3);
  const uint8_t* bottomLeft = &frame[0];
  const uint8_t* topLeft = &frame[239 * 322 * 3];
  EXPECT_GT(topLeft[0] + topLeft[1] + topLeft[2], 3 * 150);  // the grey bar, at the top
  EXPECT_LT(bottomLeft[2], 60);                              // little red at the bottom
}

TEST_F(CaptureVideoGstTest, RefusedSizesAndUnknownCamerasFail) {
  EXPECT_EQ(capture_->Open(cameraB_, 0, 1000, 700, 15), 1);
  EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to set camera video size!"});
  EXPECT_EQ(CreateCaptureVideo()->Open(cameraB_, 0, 320, 240, 25), 1);  // a rate it lacks
  EXPECT_EQ(messages_.Texts().size(), 2u);

  // No camera chosen, or a position past the list: no message.
  EXPECT_EQ(CreateCaptureVideo()->Open(-1, 0, 320, 240, 15), 1);
  EXPECT_EQ(CreateCaptureVideo()->Open(cameraB_ + 50, 0, 320, 240, 15), 1);
  EXPECT_EQ(messages_.Texts().size(), 2u);
  // A size or rate below 1 is refused like a size the camera lacks.
  EXPECT_EQ(CreateCaptureVideo()->Open(cameraA_, 0, 0, 240, 15), 1);
  EXPECT_EQ(CreateCaptureVideo()->Open(cameraA_, 0, 320, 240, 0), 1);
  EXPECT_EQ(messages_.Texts().size(), 4u);
}

TEST_F(CaptureVideoGstTest, SecondOpenChangesNothingAndStopEndsDelivery) {
  ASSERT_EQ(capture_->Open(cameraA_, 0, 160, 120, 30), 0);
  capture_->SetFrameSink(true, &sink_);
  EXPECT_EQ(capture_->Open(cameraB_, 0, 320, 240, 15), 1);
  ASSERT_TRUE(sink_.WaitForPieces(3));
  EXPECT_EQ(sink_.Lengths().back(), 160 * 120 * 3);  // still camera A's frames
  capture_->Stop();
  const size_t delivered = sink_.Lengths().size();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(sink_.Lengths().size(), delivered);
  capture_->Stop();                                         // twice is harmless
  EXPECT_EQ(capture_->Open(cameraA_, 0, 160, 120, 30), 1);  // a spent camera is not reopened
  EXPECT_TRUE(messages_.Texts().empty());
}

// The preview fills the window it is given, the right way up.
TEST_F(CaptureVideoGstTest, PreviewDrawsIntoTheOwnersWindow) {
  testing::XvfbServer xserver(640, 480);
  ASSERT_TRUE(xserver.Running());
  setenv("DISPLAY", xserver.Display().c_str(), 1);  // the preview sink opens the display too
  Display* display = XOpenDisplay(xserver.Display().c_str());
  ASSERT_NE(display, nullptr);
  constexpr int kWidth = 200;
  constexpr int kHeight = 150;
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, kWidth, kHeight, 0, 0, 0);
  XMapWindow(display, window);
  XSync(display, False);

  ASSERT_EQ(capture_->Open(cameraA_, window, 320, 240, 30), 0);
  capture_->SetFrameSink(true, &sink_);
  ASSERT_TRUE(sink_.WaitForPieces(5));
  // SMPTE bars: light grey at the top left, dark blue-black at the bottom left.
  auto pixel = [&](int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    const unsigned long value = image != nullptr ? XGetPixel(image, 0, 0) : 0;
    if (image != nullptr) XDestroyImage(image);
    return value;
  };
  WaitFor([&] { return pixel(5, 5) != 0; }, 2s);  // until the first frame is drawn
  const unsigned long top = pixel(5, 5);
  const unsigned long bottom = pixel(5, kHeight - 5);
  const unsigned long right = pixel(kWidth - 5, kHeight / 3);
  capture_->Stop();
  EXPECT_GT(top & 0xff, 150u) << std::hex << top;  // grey bar: every channel bright
  EXPECT_GT((top >> 8) & 0xff, 150u);
  EXPECT_GT((top >> 16) & 0xff, 150u);
  EXPECT_LT((bottom >> 16) & 0xff, 60u) << std::hex << bottom;  // little red at the bottom
  // The last bar, blue, reaches the window's right edge: the picture is scaled to the window.
  EXPECT_GT(right & 0xff, 150u) << std::hex << right;
  EXPECT_LT((right >> 16) & 0xff, 60u);
  XDestroyWindow(display, window);
  XSync(display, False);

  // A window that is gone by now: no preview, but the camera runs.
  Recorder frames;
  auto orphan = CreateCaptureVideo();
  ASSERT_EQ(orphan->Open(cameraA_, window, 160, 120, 30), 0);
  orphan->SetFrameSink(true, &frames);
  EXPECT_TRUE(frames.WaitForPieces(2));
  orphan->Stop();
  XCloseDisplay(display);
}

}  // namespace
}  // namespace quillon
