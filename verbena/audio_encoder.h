// AAC from 8- or 16-bit interleaved PCM, on a continuous track: SoundTimeline decides where each
// piece goes and which gaps are filled with encoded silence (also when no sound comes at all).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "verbena/encoder_settings.h"
#include "verbena/ffmpeg_util.h"
#include "verbena/sound_timeline.h"

namespace verbena {

class AudioEncoder {
 public:
  // Finished packets go to sink.
  static std::unique_ptr<AudioEncoder> Open(const SoundSettings& settings, PacketSink* sink,
                                            std::string* error);

  // Adds whole sample frames of PCM whose first sample arrived at startUs (monotonic clock,
  // microseconds since the stream's start).
  void Add(const uint8_t* pcm, size_t bytes, int64_t startUs);
  // A picture taken at pictureUs: while no sound comes, silence follows the pictures.
  void FollowPicture(int64_t pictureUs);
  // No more sound: silence up to endUs (when the track ends earlier; -1: none), then encodes the
  // part-filled frame and hands out what the encoder still holds.
  void Flush(int64_t endUs);
  const AVCodecContext* context() const { return codec_.get(); }
  // Silence added so far, in sample frames.
  uint64_t silentSamples() const { return timeline_.silentSamples(); }

 private:
  AudioEncoder() = default;
  void SendPending();
  // Appends `count` sample frames at sample position `at`: from pcm, or silence when pcm is null.
  void Append(const uint8_t* pcm, int64_t count, int64_t at);

  SoundSettings settings_;
  PacketSink* sink_ = nullptr;
  PacketPtr packet_;
  CodecContextPtr codec_;
  FramePtr frame_;
  SoundTimeline timeline_{1};
  int filled_ = 0;          // sample frames in frame_
  int64_t frameStart_ = 0;  // position of frame_'s first sample
};

}  // namespace verbena
