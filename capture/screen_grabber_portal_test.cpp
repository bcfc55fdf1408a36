#include "capture/screen_grabber_portal.h"

#include "capture/desktop_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>
#include <vector>

#include "base/testing/test_folder.h"
#include "base/testing/wait_for.h"
#include "capture/testing/screen_checks.h"
#include "capture/testing/screencast_desktop.h"
#include "devices/device_messages.h"

namespace quillon {
namespace {

using testing::ScreenCastDesktop;

constexpr int kWidth = 320;  // the stand-in's monitor
constexpr int kHeight = 240;

// Blue, green, red of the background around the pattern in the stand-in's picture `variant`.
bool ShowsBackground(const std::vector<uint8_t>& picture, uint32_t variant) {
  const uint8_t* pixel = &picture[(static_cast<size_t>(kHeight - 1 - 5) * kWidth + 5) * 3];
  return pixel[0] == 200 - variant * 60 && pixel[1] == 90 && pixel[2] == 20 + variant * 60;
}

class ScreenGrabberPortalTest : public ::testing::Test {
 protected:
  // The stand-in (again) with options as its command line takes them.
  void Serve(const std::vector<std::string>& options = {}) {
    desktop_.StopStandIn();
    ASSERT_TRUE(desktop_.StartStandIn(options)) << desktop_.Logs();
  }
  std::filesystem::path TokenFile() const { return desktop_.Folder() / "screencast.token"; }

  ScreenCastDesktop desktop_;
};

// A portal serving red-first pixels that can only embed the pointer: the pixels come out
// blue-green-red, bit for bit, the monitor's own size is the one a class of the whole display
// takes, and no marker is painted.
TEST_F(ScreenGrabberPortalTest, RedFirstPixelsTheMonitorsSizeAndAnEmbeddedPointer) {
  ASSERT_NO_FATAL_FAILURE(Serve({"--rgbx", "--size", "800x600", "--cursor-modes", "3"}));
  ScreenGrabberPortal grabber(TokenFile());
  EXPECT_FALSE(grabber.PreparedSize());
  ASSERT_EQ(grabber.Prepare(), ScreenProblem::kNone);
  EXPECT_EQ(grabber.PreparedSize(), (std::pair{800, 600}));
  EXPECT_TRUE(testing::ShowsThePattern(grabber, kWidth, kHeight, 800, 600));
  std::vector<uint8_t> picture(kWidth * kHeight * 3);
  grabber.GrabScreen(picture.data(), kWidth, kHeight);
  EXPECT_TRUE(ShowsBackground(picture, 0));
  EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), kWidth, kHeight));
}

// The monitor pixel for pixel and bottom-up, black beyond it; a new picture by the second tick
// after it was served; the marker where the stream's cursor metadata puts the pointer, none while
// the pointer is on another monitor; and the next class with the kept permission, without a
// second dialog.
TEST_F(ScreenGrabberPortalTest, GrabsTheSharedMonitorAndTheNextClassNeedsNoDialog) {
  ASSERT_NO_FATAL_FAILURE(Serve());
  {
    ScreenGrabberPortal grabber(TokenFile());
    ASSERT_EQ(grabber.Prepare(), ScreenProblem::kNone);
    EXPECT_EQ(ScreenCastDesktop::Control("Dialogs"), 1u);
    EXPECT_TRUE(testing::ShowsThePattern(grabber, kWidth, kHeight));
    testing::ExpectEverySizeToShowThePattern(grabber, kWidth, kHeight);

    std::vector<uint8_t> picture(kWidth * kHeight * 3);
    grabber.GrabScreen(picture.data(), kWidth, kHeight);
    EXPECT_TRUE(ShowsBackground(picture, 0));
    ScreenCastDesktop::Control("SetPicture", g_variant_new("(u)", 1));
    for (int ticks = 0; ticks < 2 && !ShowsBackground(picture, 1); ++ticks) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the tick at 20 frames/s
      grabber.GrabScreen(picture.data(), kWidth, kHeight);
    }
    EXPECT_TRUE(ShowsBackground(picture, 1)) << "not seen by the second tick";

    testing::ExpectTheMarkerBesideThePointer(grabber, [&](int x, int y) {
      ScreenCastDesktop::Control("SetPointer", g_variant_new("(ii)", x, y));
      return WaitFor([&] { return grabber.Pointer() == std::pair{x, y}; });
    });
    ScreenCastDesktop::Control("SetPointer", g_variant_new("(ii)", -1, -1));  // another monitor
    EXPECT_TRUE(WaitFor([&] { return !grabber.Pointer(); }));
    EXPECT_FALSE(grabber.DrawCursorMarker(picture.data(), kWidth, kHeight));
  }
  const std::string firstToken = TestFolder::Read(TokenFile());
  EXPECT_FALSE(firstToken.empty());
  ScreenGrabberPortal again(TokenFile());
  ASSERT_EQ(again.Prepare(), ScreenProblem::kNone);
  EXPECT_EQ(ScreenCastDesktop::Control("Dialogs"), 1u) << "the kept permission was not used";
  EXPECT_NE(TestFolder::Read(TokenFile()), firstToken) << "the renewed permission was not kept";
  EXPECT_TRUE(testing::ShowsThePattern(again, kWidth, kHeight));
}

// A cancelled dialog and a missing portal say so and keep no permission. Calling the start off
// while the dialog is open takes the dialog back (the request and the session are closed) and
// Prepare returns at once; a grabber called off before it asks does not ask at all. PipeWire
// ending during the class keeps the last picture, and the tick does not wait for it.
TEST_F(ScreenGrabberPortalTest, FailuresSayWhyAndALostStreamKeepsTheLastPicture) {
  ASSERT_NO_FATAL_FAILURE(Serve({"--refuse"}));
  EXPECT_EQ(ScreenGrabberPortal(TokenFile()).Prepare(), ScreenProblem::kNotShared);
  EXPECT_EQ(ScreenCastDesktop::Control("Dialogs"), 1u);
  EXPECT_FALSE(std::filesystem::exists(TokenFile()));
  desktop_.StopStandIn();
  EXPECT_EQ(ScreenGrabberPortal(TokenFile()).Prepare(), ScreenProblem::kNoScreenSharing);

  ASSERT_NO_FATAL_FAILURE(Serve({"--never-answer"}));
  ScreenGrabberPortal unanswered(TokenFile());
  auto prepared = std::async(std::launch::async, [&] { return unanswered.Prepare(); });
  ASSERT_TRUE(WaitFor([] { return ScreenCastDesktop::Control("Dialogs") == 1; }));
  EXPECT_EQ(prepared.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  const auto cancelled = std::chrono::steady_clock::now();
  unanswered.CancelPrepare();
  ASSERT_EQ(prepared.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
  EXPECT_EQ(prepared.get(), ScreenProblem::kCancelled);
  const std::string log = TestFolder::Read(desktop_.Folder() / "standin.log");
  EXPECT_NE(log.find("Request.Close"), std::string::npos) << log;
  EXPECT_NE(log.find("Session.Close"), std::string::npos) << log;
  ScreenGrabberPortal early(TokenFile());
  early.CancelPrepare();
  EXPECT_EQ(early.Prepare(), ScreenProblem::kCancelled);
  EXPECT_EQ(ScreenCastDesktop::Control("Dialogs"), 1u);

  ASSERT_NO_FATAL_FAILURE(Serve());
  ScreenGrabberPortal grabber(TokenFile());
  ASSERT_EQ(grabber.Prepare(), ScreenProblem::kNone);
  desktop_.StopPipeWire();
  EXPECT_TRUE(WaitFor([&] {
    std::vector<uint8_t> picture(kWidth * kHeight * 3);
    grabber.GrabScreen(picture.data(), kWidth, kHeight);
    return grabber.Problem() == ScreenProblem::kSharingEnded;
  }));
  for (int tick = 0; tick < 3; ++tick) {
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(testing::ShowsThePattern(grabber, kWidth, kHeight));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The teacher stops sharing from the desktop's indicator (the portal closes the session) while
// the monitor goes on changing: the class keeps the last picture it was allowed, without waiting,
// and the teacher is told once.
TEST_F(ScreenGrabberPortalTest, AClosedSessionKeepsTheLastPictureAndIsToldOnce) {
  std::ostringstream told;
  StreamMessages messages(told);
  ScopedUserMessages toTest(messages);
  ASSERT_NO_FATAL_FAILURE(Serve());
  ScreenGrabberPortal grabber(TokenFile());
  ASSERT_EQ(grabber.Prepare(), ScreenProblem::kNone);
  std::vector<uint8_t> picture(kWidth * kHeight * 3);
  grabber.GrabScreen(picture.data(), kWidth, kHeight);
  EXPECT_EQ(grabber.Problem(), ScreenProblem::kNone);
  EXPECT_TRUE(told.str().empty());

  ScreenCastDesktop::Control("EndSharing");
  EXPECT_TRUE(WaitFor([&] {
    grabber.GrabScreen(picture.data(), kWidth, kHeight);
    return grabber.Problem() == ScreenProblem::kSharingEnded;
  }));
  ScreenCastDesktop::Control("SetPicture", g_variant_new("(u)", 1));
  for (int tick = 0; tick < 6; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(testing::ShowsThePattern(grabber, kWidth, kHeight));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
    grabber.GrabScreen(picture.data(), kWidth, kHeight);
    EXPECT_TRUE(ShowsBackground(picture, 0)) << "a picture after the sharing ended, tick " << tick;
  }
  EXPECT_EQ(told.str(), std::string(kSharingEndedMessage) + "\n");
}

// The portal on a Wayland session, the X server otherwise; the override wins when it is valid.
TEST(DesktopSourceTest, WaylandSessionsUseThePortalAndTheOverrideWins) {
  constexpr auto kX11 = DesktopSource::kX11;
  constexpr auto kPortal = DesktopSource::kPortal;
  const struct {
    const char *override, *session, *display;
    DesktopSource want;
  } cases[] = {{nullptr, "wayland", nullptr, kPortal},
               {nullptr, "x11", "wayland-0", kPortal},
               {nullptr, "x11", "", kX11},
               {nullptr, nullptr, nullptr, kX11},
               {"x11", "wayland", "wayland-0", kX11},
               {"portal", "x11", nullptr, kPortal},
               {"vnc", "x11", nullptr, kX11}};
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseDesktopSource(c.override, c.session, c.display).Source, c.want)
        << (c.override ? c.override : "-") << " " << (c.session ? c.session : "-");
  }
}

}  // namespace
}  // namespace quillon

// ThreadSanitizer cannot see how GLib orders its own threads (raw futexes in code built without
// the sanitizer): GDBus's worker thread hands every message over that way. PipeWire is not
// listed: its thread loop locks with pthread mutexes, which the sanitizer sees, so the hand-over
// of pictures between the stream's thread and the tick stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so\n"
         "race:libgio-2.0.so\n"
         "race:libgobject-2.0.so\n";
}
