// The desktop of a Wayland session: one monitor shared through the desktop portal and received as
// a PipeWire stream. Nothing is asked at construction; Prepare asks (or restores the kept
// permission) before the class starts.
#pragma once

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
  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override;
  // At the pointer position the stream's cursor metadata reports; nothing when the portal only
  // embeds the pointer in the picture.
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override;
  std::optional<std::pair<int32_t, int32_t>> Pointer() { return desktop_.Pointer(); }

 private:
  const int firstPictureMilliseconds_;
  bool prepared_ = false;
  ScreenCastPortal portal_;
  PipeWireDesktop desktop_;  // ends before the portal's session does
};

}  // namespace quillon
