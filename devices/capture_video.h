// The camera of one class: opened at a size and rate, frames handed to a VideoFrameSink on the
// camera's own thread, a live preview drawn into a window of the caller's.
#pragma once

#include <cstdint>
#include <memory>

#include "base/frame_sinks.h"

namespace quillon {

class CCaptureVideo {
 public:
  virtual ~CCaptureVideo() = default;

  // Builds and runs the camera at position deviceIndex of the camera list. 0 when it runs,
  // non-zero otherwise; a second call returns 1 and changes nothing.
  virtual int Open(int32_t deviceIndex, PreviewWindow previewOwner, int32_t width, int32_t height,
                   int32_t frameRate) = 0;
  // Stops delivery and the preview and releases the camera.
  virtual void Stop() = 0;
  // Connects the frames to sink (or disconnects them when enabled is false).
  virtual void SetFrameSink(bool enabled, VideoFrameSink* sink) = 0;
};

// The camera of this platform.
std::unique_ptr<CCaptureVideo> CreateCaptureVideo();

}  // namespace quillon
