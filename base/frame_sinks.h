// What camera and sound capture hand their data to. The capture session implements both.
#pragma once

#include <cstdint>

namespace quillon {

class VideoFrameSink {
 public:
  // One camera frame; the bytes are valid only during the call.
  virtual void OnVideoFrame(double sampleTime, const uint8_t* buffer, int32_t length) = 0;

 protected:
  ~VideoFrameSink() = default;
};

class AudioDataSink {
 public:
  // One piece of captured PCM; the bytes are valid only during the call.
  virtual void OnAudioData(const uint8_t* buffer, int32_t length) = 0;

 protected:
  ~AudioDataSink() = default;
};

// The native window the camera preview draws into: an X window id or an HWND. 0 for none.
using PreviewWindow = uintptr_t;

}  // namespace quillon
