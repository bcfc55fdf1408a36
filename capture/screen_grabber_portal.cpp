#include "capture/screen_grabber_portal.h"

namespace quillon {

ScreenGrabberPortal::ScreenGrabberPortal(std::filesystem::path tokenFile,
                                         int firstPictureMilliseconds)
    : firstPictureMilliseconds_(firstPictureMilliseconds), portal_(std::move(tokenFile)) {}

ScreenProblem ScreenGrabberPortal::Prepare() {
  if (prepared_) return ScreenProblem::kNone;
  SharedMonitor monitor;
  if (const ScreenProblem problem = portal_.Share(&monitor); problem != ScreenProblem::kNone)
    return problem;
  if (!desktop_.Connect(monitor.RemoteFd, monitor.Node, firstPictureMilliseconds_))
    return ScreenProblem::kNoPicture;
  prepared_ = true;
  return ScreenProblem::kNone;
}

void ScreenGrabberPortal::GrabScreen(uint8_t* buffer, int32_t width, int32_t height) {
  desktop_.Read(buffer, width, height);
}

bool ScreenGrabberPortal::DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) {
  const auto pointer = desktop_.Pointer();
  return pointer && DrawMarkerAt(buffer, width, height, pointer->first, pointer->second);
}

}  // namespace quillon
