// The one process-wide receiver of camera frames. The camera's streaming thread calls BufferCB
// once per frame; the capture session connects itself with SetFrameSink after opening the camera.
// It lives for the whole process, so a frame in flight never finds it gone.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/frame_sinks.h"

namespace quillon {

class GrabberCallback {
 public:
  // Passes one frame to Sink when Enabled. A null buffer is refused (false) and not passed on.
  bool BufferCB(double sampleTime, const uint8_t* buffer, int32_t length) {
    if (Enabled.load(std::memory_order_acquire) == 0) return true;
    if (buffer == nullptr) return false;
    if (VideoFrameSink* sink = Sink.load(std::memory_order_acquire)) {
      sink->OnVideoFrame(sampleTime, buffer, length);
    }
    return true;
  }

  std::atomic<VideoFrameSink*> Sink{nullptr};
  std::atomic<int32_t> Enabled{0};
};

// The one instance.
GrabberCallback& TheGrabberCallback();

}  // namespace quillon
