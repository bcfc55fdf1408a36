#include "capture/screen_grabber_x11.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/testing/xvfb.h"

namespace quillon {
namespace {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// Colours as X pixel values (0xRRGGBB).
constexpr uint32_t kBackground = 0x102030;
constexpr uint32_t kTopLine = 0x00FF00;
constexpr uint32_t kBottomLine = 0x0000FF;
constexpr uint32_t kBox = 0xC08040;  // the rectangle at (10, 20), 30 x 40

using Bgr = std::array<uint8_t, 3>;

Bgr AsBgr(uint32_t pixel) {
  return {static_cast<uint8_t>(pixel), static_cast<uint8_t>(pixel >> 8),
          static_cast<uint8_t>(pixel >> 16)};
}

// The pixel at screen column x, screen line y (from the top) of a bottom-up picture.
Bgr At(const std::vector<uint8_t>& picture, int width, int height, int x, int y) {
  size_t offset = (static_cast<size_t>(height - 1 - y) * width + x) * 3;
  return {picture[offset], picture[offset + 1], picture[offset + 2]};
}

// One Xvfb for the whole suite, with a known picture drawn straight onto the root window.
class ScreenGrabberX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::XvfbServer::Installed()) return;
    server_ = new testing::XvfbServer(kScreenWidth, kScreenHeight);
    if (!server_->Running()) return;
    painter_ = xcb_connect(server_->Display().c_str(), nullptr);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(painter_)).data;
    root_ = screen->root;
    xcb_gcontext_t gc = xcb_generate_id(painter_);
    xcb_create_gc(painter_, gc, root_, 0, nullptr);
    auto fill = [&](uint32_t colour, int16_t x, int16_t y, uint16_t w, uint16_t h) {
      xcb_change_gc(painter_, gc, XCB_GC_FOREGROUND, &colour);
      xcb_rectangle_t r{x, y, w, h};
      xcb_poly_fill_rectangle(painter_, root_, gc, 1, &r);
    };
    fill(kBackground, 0, 0, kScreenWidth, kScreenHeight);
    fill(kTopLine, 0, 0, kScreenWidth, 1);
    fill(kBottomLine, 0, kScreenHeight - 1, kScreenWidth, 1);
    fill(kBox, 10, 20, 30, 40);
    xcb_free_gc(painter_, gc);
    free(xcb_get_input_focus_reply(painter_, xcb_get_input_focus(painter_), nullptr));  // sync
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

  static void MovePointer(int16_t x, int16_t y) {
    xcb_warp_pointer(painter_, XCB_NONE, root_, 0, 0, 0, 0, x, y);
    free(xcb_get_input_focus_reply(painter_, xcb_get_input_focus(painter_), nullptr));
  }

  static testing::XvfbServer* server_;
  static xcb_connection_t* painter_;
  static xcb_window_t root_;
};

testing::XvfbServer* ScreenGrabberX11Test::server_ = nullptr;
xcb_connection_t* ScreenGrabberX11Test::painter_ = nullptr;
xcb_window_t ScreenGrabberX11Test::root_ = 0;

TEST_F(ScreenGrabberX11Test, WholeScreenIsBottomUpBgr) {
  ScreenGrabberX11 grabber(server_->Display());
  ASSERT_TRUE(grabber.Connected());
  EXPECT_EQ(grabber.ScreenWidth(), kScreenWidth);
  std::vector<uint8_t> picture(kScreenWidth * kScreenHeight * 3, 0x77);
  grabber.GrabScreen(picture.data(), kScreenWidth, kScreenHeight);
  EXPECT_TRUE(grabber.UsedSharedMemory());

  // The first row in memory is the screen's bottom line.
  EXPECT_EQ((Bgr{picture[0], picture[1], picture[2]}), AsBgr(kBottomLine));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 5, 0), AsBgr(kTopLine));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 319, 239), AsBgr(kBottomLine));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 10, 20), AsBgr(kBox));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 39, 59), AsBgr(kBox));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 40, 59), AsBgr(kBackground));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 9, 20), AsBgr(kBackground));
  EXPECT_EQ(At(picture, kScreenWidth, kScreenHeight, 10, 60), AsBgr(kBackground));

  // A second grab reuses the segment and gives the same picture; so does the plain request.
  std::vector<uint8_t> again(picture.size());
  grabber.GrabScreen(again.data(), kScreenWidth, kScreenHeight);
  EXPECT_EQ(again, picture);
  ScreenGrabberX11 plain(server_->Display(), false);
  std::vector<uint8_t> unshared(picture.size());
  plain.GrabScreen(unshared.data(), kScreenWidth, kScreenHeight);
  EXPECT_FALSE(plain.UsedSharedMemory());
  EXPECT_EQ(unshared, picture);
}

TEST_F(ScreenGrabberX11Test, SmallerRectangleIsTheTopLeftOfTheScreen) {
  ScreenGrabberX11 grabber(server_->Display());
  constexpr int w = 64, h = 48;
  std::vector<uint8_t> picture(w * h * 3);
  grabber.GrabScreen(picture.data(), w, h);
  EXPECT_EQ(At(picture, w, h, 0, 0), AsBgr(kTopLine));
  EXPECT_EQ(At(picture, w, h, 63, 1), AsBgr(kBackground));
  EXPECT_EQ(At(picture, w, h, 10, 20), AsBgr(kBox));
  EXPECT_EQ(At(picture, w, h, 39, 47), AsBgr(kBox));
  EXPECT_EQ(At(picture, w, h, 40, 47), AsBgr(kBackground));
}

TEST_F(ScreenGrabberX11Test, AreaBeyondTheScreenIsBlack) {
  ScreenGrabberX11 grabber(server_->Display());
  constexpr int w = kScreenWidth + 40, h = kScreenHeight + 20;
  std::vector<uint8_t> picture(w * h * 3, 0x55);
  grabber.GrabScreen(picture.data(), w, h);
  EXPECT_EQ(At(picture, w, h, 319, 0), AsBgr(kTopLine));
  EXPECT_EQ(At(picture, w, h, 320, 0), AsBgr(0));
  EXPECT_EQ(At(picture, w, h, 359, 100), AsBgr(0));
  EXPECT_EQ(At(picture, w, h, 0, 239), AsBgr(kBottomLine));
  EXPECT_EQ(At(picture, w, h, 0, 240), AsBgr(0));
  EXPECT_EQ(At(picture, w, h, 359, 259), AsBgr(0));
}

TEST_F(ScreenGrabberX11Test, MarkerSitsAboveAndRightOfThePointer) {
  ScreenGrabberX11 grabber(server_->Display());
  std::vector<uint8_t> picture(kScreenWidth * kScreenHeight * 3);
  grabber.GrabScreen(picture.data(), kScreenWidth, kScreenHeight);
  MovePointer(17, 17);
  ASSERT_TRUE(grabber.DrawCursorMarker(picture.data(), kScreenWidth, kScreenHeight));
  const Bgr red{0, 0, 255};
  for (int y = 0; y < 20; ++y) {
    for (int x = 14; x < 35; ++x) {
      bool inside = x >= 17 && x <= 31 && y >= 2 && y <= 16;
      Bgr pixel = At(picture, kScreenWidth, kScreenHeight, x, y);
      if (inside) {
        EXPECT_EQ(pixel, red) << x << "," << y;
      } else {
        EXPECT_NE(pixel, red) << x << "," << y;
      }
    }
  }
  // Too close to an edge: nothing is painted.
  for (auto [x, y] :
       {std::pair{16, 100}, {100, 16}, {kScreenWidth - 16, 100}, {100, kScreenHeight - 16}}) {
    MovePointer(static_cast<int16_t>(x), static_cast<int16_t>(y));
    std::vector<uint8_t> before = picture;
    EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), kScreenWidth, kScreenHeight));
    EXPECT_EQ(picture, before);
  }
  // A rectangle smaller than the screen leaves out a pointer outside its inner margin.
  MovePointer(100, 100);
  std::vector<uint8_t> small(64 * 48 * 3);
  EXPECT_FALSE(grabber.DrawCursorMarker(small.data(), 64, 48));
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
