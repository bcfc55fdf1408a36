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
  static constexpr int kOk = 0;
  static constexpr int kNullBuffer = -1;  // a frame without bytes is refused

  // Passes one frame to Sink when Enabled. A null buffer is refused and not passed on.
  int BufferCB(double sampleTime, const uint8_t* buffer, int32_t length) {
    if (Enabled.load(std::memory_order_acquire) == 0) return kOk;
    if (buffer == nullptr) return kNullBuffer;
    if (VideoFrameSink* sink = Sink.load(std::memory_order_acquire)) {
      sink->OnVideoFrame(sampleTime, buffer, length);
    }
    return kOk;
  }

  std::atomic<VideoFrameSink*> Sink{nullptr};
  std::atomic<int32_t> Enabled{0};
};

// The one instance.
GrabberCallback& TheGrabberCallback();

}  // namespace quillon
