// The desktop of an X server through xcb: MIT-SHM get-image into a shared segment kept between
// grabs, the plain get-image where shared memory is unavailable.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/screen_grabber.h"

namespace quillon {

class ScreenGrabberX11 final : public ScreenGrabber {
 public:
  // Connects to displayName, or to $DISPLAY when it is empty. Check Connected().
  explicit ScreenGrabberX11(const std::string& displayName = "", bool useSharedMemory = true);
  ~ScreenGrabberX11() override;
  ScreenGrabberX11(const ScreenGrabberX11&) = delete;
  ScreenGrabberX11& operator=(const ScreenGrabberX11&) = delete;

  bool Connected() const { return connection_ != nullptr; }
  // True once a grab has gone through shared memory.
  bool UsedSharedMemory() const { return usedSharedMemory_; }
  int32_t ScreenWidth() const { return screenWidth_; }
  int32_t ScreenHeight() const { return screenHeight_; }

  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override;
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override;

 private:
  // The shared segment: a memfd mapped here and attached to the server.
  struct Segment {
    uint32_t Id = 0;  // xcb_shm_seg_t; 0 when none is attached
    uint8_t* Memory = nullptr;
    size_t Bytes = 0;
  };
  bool EnsureSegment(size_t bytes);
  void ReleaseSegment();
  const uint8_t* GetImage(int32_t width, int32_t height);  // BGRX rows, width * 4 bytes each

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  int32_t screenWidth_ = 0;
  int32_t screenHeight_ = 0;
  bool sharedMemory_ = false;
  bool usedSharedMemory_ = false;
  bool reportedFormat_ = false;
  Segment segment_;
  xcb_get_image_reply_t* plainReply_ = nullptr;  // keeps the last plain get-image's bytes
};

}  // namespace quillon
