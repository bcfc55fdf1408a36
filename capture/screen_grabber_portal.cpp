#include "capture/screen_grabber_portal.h"

#include "base/log.h"
#include "devices/device_messages.h"

namespace quillon {

ScreenGrabberPortal::ScreenGrabberPortal(std::filesystem::path tokenFile,
                                         int firstPictureMilliseconds)
    : firstPictureMilliseconds_(firstPictureMilliseconds), portal_(std::move(tokenFile)) {}

ScreenProblem ScreenGrabberPortal::Prepare() {
  if (prepared_) return ScreenProblem::kNone;
  SharedMonitor monitor;
  if (const ScreenProblem problem = portal_.Share(&monitor); problem != ScreenProblem::kNone)
    return problem;
  portalSize_ = {monitor.Width, monitor.Height};
  if (!desktop_.Connect(monitor.RemoteFd, monitor.Node, firstPictureMilliseconds_))
    return ScreenProblem::kNoPicture;
  prepared_ = true;
  return ScreenProblem::kNone;
}

std::optional<std::pair<int32_t, int32_t>> ScreenGrabberPortal::PreparedSize() const {
  if (!prepared_) return std::nullopt;
  if (auto size = desktop_.Size()) return size;
  if (portalSize_.first > 0 && portalSize_.second > 0) return portalSize_;
  return std::nullopt;
}

void ScreenGrabberPortal::GrabScreen(uint8_t* buffer, int32_t width, int32_t height) {
  if (problem_ == ScreenProblem::kNone && prepared_) {
    const bool closed = portal_.SessionClosed();
    if (closed) desktop_.Freeze();  // no new picture of a desktop the teacher no longer shares
    if (closed || desktop_.Ended()) {
      problem_ = ScreenProblem::kSharingEnded;
      LogWarning("the screen sharing ended (%s) during the class",
                 closed ? "the portal closed the session" : "the stream went away");
      ShowUserMessage(kSharingEndedMessage);
    }
  }
  desktop_.Read(buffer, width, height);
}

bool ScreenGrabberPortal::DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) {
  const auto pointer = desktop_.Pointer();
  return pointer && DrawMarkerAt(buffer, width, height, pointer->first, pointer->second);
}

}  // namespace quillon
