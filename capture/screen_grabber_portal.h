// The desktop of a Wayland session: one monitor shared through the desktop portal and received as
// a PipeWire stream. Nothing is asked at construction; Prepare asks (or restores the kept
// permission) before the class starts.
#pragma once

#include <atomic>
#include <filesystem>

#include "capture/pipewire_desktop.h"
#include "capture/screen_grabber.h"
#include "capture/screencast_portal.h"

namespace quillon {

class ScreenGrabberPortal final : public ScreenGrabber {
 public:
  // tokenFile: where the sharing permission is kept between classes. firstPictureMilliseconds:
  // how long Prepare waits for the first picture after the sharing was granted.
  explicit ScreenGrabberPortal(std::filesystem::path tokenFile,
                               int firstPictureMilliseconds = 5000);

  ScreenProblem Prepare() override;
  void CancelPrepare() override { portal_.Cancel(); }
  // The shared monitor's size, as its stream negotiated it (the portal's word before that).
  std::optional<std::pair<int32_t, int32_t>> PreparedSize() const override;
  // The last picture stays once the sharing has ended (the portal closed the session, or the
  // stream went away): the teacher is told once, and kSharingEnded is the problem from then on.
  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override;
  ScreenProblem Problem() const override { return problem_; }
  // At the pointer position the stream's cursor metadata reports; nothing when the portal only
  // embeds the pointer in the picture.
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override;
  std::optional<std::pair<int32_t, int32_t>> Pointer() { return desktop_.Pointer(); }

 private:
  const int firstPictureMilliseconds_;
  bool prepared_ = false;
  std::pair<int32_t, int32_t> portalSize_{0, 0};
  std::atomic<ScreenProblem> problem_{ScreenProblem::kNone};
  ScreenCastPortal portal_;
  mutable PipeWireDesktop desktop_;  // ends before the portal's session does
};

// What the teacher is told when the shared desktop stops coming during a class.
inline constexpr char kSharingEndedMessage[] =
    "屏幕共享已经停止，直播画面停在最后一帧。\n如要继续共享屏幕，请下课后再按上课，重新选择显示器"
    "。";

}  // namespace quillon
