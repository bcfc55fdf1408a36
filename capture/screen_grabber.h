// The desktop grab of the frame tick: the top-left width x height rectangle of the screen as a
// 24-bit blue-green-red picture with bottom-up rows, and the red marker beside the pointer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace quillon {

// Why a desktop cannot be published; the values go on as the session's start failure, beside
// the encoder library's own (VerbenaStats' StartFailure, below 100).
enum class ScreenProblem : uint32_t {
  kNone = 0,
  kNoScreenSharing = 101,  // no screen-sharing service answers (desktop portal missing)
  kNotShared = 102,        // the teacher cancelled the sharing dialog, or the service refused
  kNoPicture = 103,        // sharing was granted, but no picture arrived
  kCancelled = 104,        // the start was called off while the sharing was being asked for
  kSharingEnded = 105,     // during the class: the shared desktop stopped coming
  kNoScreenSize = 106,     // the whole display, but neither the display nor the sharing gave a size
  kScreenRateTooLarge = 107,  // ScreenRate is past the shorter side of the desktop found at start
};

class ScreenGrabber {
 public:
  virtual ~ScreenGrabber() = default;

  // Readies the screen before a class starts. A desktop that needs the teacher's consent asks for
  // it here, which may take until the teacher answers; the others are ready from the start.
  virtual ScreenProblem Prepare() { return ScreenProblem::kNone; }
  // From any thread: a Prepare in progress ends soon with kCancelled (a question to the teacher
  // is taken back); a later one returns kCancelled at once.
  virtual void CancelPrepare() {}
  // The size of the desktop that Prepare made ready, when it has one of its own (the monitor the
  // teacher chose to share); none when the display's size stands, as the settings read it.
  virtual std::optional<std::pair<int32_t, int32_t>> PreparedSize() const { return std::nullopt; }
  // What went wrong with the desktop since Prepare, kNone while it comes. From any thread.
  virtual ScreenProblem Problem() const { return ScreenProblem::kNone; }

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

// The screen of this platform; nullptr when there is none to open (no display). What the screen
// keeps between classes (the sharing permission of a Wayland desktop) lives in settingsFolder.
std::unique_ptr<ScreenGrabber> CreateScreenGrabber(
    const std::filesystem::path& settingsFolder = {});

// Which desktop a class publishes and why, one line for --list-devices.
std::string DescribeDesktopSource();

}  // namespace quillon
