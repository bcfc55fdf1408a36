// AAC from 8- or 16-bit interleaved PCM. Sound is timed by counting samples from the first
// chunk's arrival; a gap in the arrivals larger than kResyncMs moves the count forward.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "verbena/encoder_settings.h"
#include "verbena/ffmpeg_util.h"

namespace verbena {

class AudioEncoder {
 public:
  static constexpr int64_t kResyncMs = 300;

  // Finished packets go to sink.
  static std::unique_ptr<AudioEncoder> Open(const SoundSettings& settings, PacketSink* sink,
                                            std::string* error);

  // Adds whole sample frames of PCM whose first sample arrived at startUs (monotonic clock,
  // microseconds since the stream's start).
  void Add(const uint8_t* pcm, size_t bytes, int64_t startUs);
  // No more sound: encodes the part-filled frame and hands out what the encoder still holds.
  void Flush();
  const AVCodecContext* context() const { return codec_.get(); }

 private:
  AudioEncoder() = default;
  void SendPending();

  SoundSettings settings_;
  PacketSink* sink_ = nullptr;
  PacketPtr packet_;
  CodecContextPtr codec_;
  FramePtr frame_;
  int filled_ = 0;           // sample frames in frame_
  int64_t nextSample_ = -1;  // position of the next sample to add; -1 before the first
  int64_t frameStart_ = 0;   // position of frame_'s first sample
};

}  // namespace verbena
