// Sound capture of one class: PCM from the chosen device, handed on in whole chunks of ChunkBytes
// to an AudioDataSink on a worker thread.
#pragma once

#include <cstdint>
#include <memory>

#include "base/frame_sinks.h"
#include "base/publisher_settings.h"

namespace quillon {

class CCaptureAudio {
 public:
  virtual ~CCaptureAudio() = default;

  // Set by the owner before Open.
  int32_t SamplesPerSec = 0;
  int32_t BitsPerSample = 0;
  int32_t Chanels = 0;
  // Set by the owner after Open, before SetRecording(true, ...).
  uint32_t ChunkBytes = 0;

  // Opens the device; nullptr and NoAudioSelection() give false. true on a recording object.
  virtual bool Open(const AudioDeviceId* device) = 0;
  // Starts (on) or ends recording. 0 on success, non-zero on failure.
  virtual int SetRecording(bool on, AudioDataSink* sink) = 0;
  // Releases the device; harmless when repeated.
  virtual void Close() = 0;
};

// The sound capture of this platform.
std::unique_ptr<CCaptureAudio> CreateCaptureAudio();

}  // namespace quillon
