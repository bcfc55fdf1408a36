#include "capture/screen_grabber_x11.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

#include "base/testing/xvfb.h"
#include "capture/testing/screen_checks.h"

namespace quillon {
namespace {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// One Xvfb for the whole suite, with the test pattern put straight onto the root window.
class ScreenGrabberX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::XvfbServer::Installed()) return;
    server_ = new testing::XvfbServer(kScreenWidth, kScreenHeight);
    if (!server_->Running()) return;
    painter_ = xcb_connect(server_->Display().c_str(), nullptr);
    root_ = xcb_setup_roots_iterator(xcb_get_setup(painter_)).data->root;
    xcb_gcontext_t gc = xcb_generate_id(painter_);
    xcb_create_gc(painter_, gc, root_, 0, nullptr);
    const std::vector<uint8_t> pattern = testing::PatternPixels();
    xcb_put_image(painter_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, gc, testing::kPatternWidth,
                  testing::kPatternHeight, testing::kPatternLeft, testing::kPatternTop, 0, 24,
                  static_cast<uint32_t>(pattern.size()), pattern.data());
    xcb_free_gc(painter_, gc);
    Sync();
  }
  static void TearDownTestSuite() {
    if (painter_ != nullptr) xcb_disconnect(painter_);
    delete server_;
    painter_ = nullptr;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!testing::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(server_ != nullptr && server_->Running()) << "Xvfb did not start";
  }

  static void Sync() {
    free(xcb_get_input_focus_reply(painter_, xcb_get_input_focus(painter_), nullptr));
  }
  static bool MovePointer(int x, int y) {
    xcb_warp_pointer(painter_, XCB_NONE, root_, 0, 0, 0, 0, static_cast<int16_t>(x),
                     static_cast<int16_t>(y));
    Sync();
    return true;
  }

  static inline testing::XvfbServer* server_ = nullptr;
  static inline xcb_connection_t* painter_ = nullptr;
  static inline xcb_window_t root_ = 0;
};

// The whole screen (twice: the second reuses the shared segment), then rectangles of every size.
TEST_F(ScreenGrabberX11Test, GrabsAreBottomUpBgrThroughSharedMemoryOrWithout) {
  for (bool shared : {true, false}) {
    ScreenGrabberX11 grabber(server_->Display(), shared);
    ASSERT_TRUE(grabber.Connected());
    EXPECT_EQ(grabber.ScreenWidth(), kScreenWidth);
    for (int grab = 0; grab < 2; ++grab)
      EXPECT_TRUE(testing::ShowsThePattern(grabber, kScreenWidth, kScreenHeight));
    EXPECT_EQ(grabber.UsedSharedMemory(), shared);
    testing::ExpectEverySizeToShowThePattern(grabber, kScreenWidth, kScreenHeight);
  }
}

TEST_F(ScreenGrabberX11Test, MarkerSitsAboveAndRightOfThePointer) {
  ScreenGrabberX11 grabber(server_->Display());
  testing::ExpectTheMarkerBesideThePointer(grabber, MovePointer);
}

TEST(ScreenGrabberX11NoDisplayTest, UnreachableDisplayLeavesThePictureAlone) {
  ::testing::internal::CaptureStderr();
  ScreenGrabberX11 grabber("unix:65000");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot open the X display"),
            std::string::npos);
  EXPECT_FALSE(grabber.Connected());
  std::vector<uint8_t> picture(16 * 16 * 3, 0x42);
  grabber.GrabScreen(picture.data(), 16, 16);
  EXPECT_EQ(picture, std::vector<uint8_t>(16 * 16 * 3, 0x42));
  EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), 16, 16));
}

}  // namespace
}  // namespace quillon
