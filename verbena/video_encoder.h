// H.264 through libx264. A bottom-up BGR picture is converted to I420 (libyuv, rows flipped in the
// same pass) as it is handed in, on the caller's thread; the encoder thread encodes the I420
// picture where it lies, without a copy (x264 takes its own copy as it accepts a picture).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "verbena/encoder_settings.h"
#include "verbena/ffmpeg_util.h"

namespace verbena {

class VideoEncoder {
 public:
  // Finished packets go to sink.
  static std::unique_ptr<VideoEncoder> Open(const EncoderSettings& settings, PacketSink* sink,
                                            std::string* error);

  // Bytes of one I420 picture of the encoded size.
  static size_t I420Bytes(const EncoderSettings& settings);
  // Converts one picture of settings.pictureBytes into I420Bytes at i420 (an odd last column or
  // bottom line is left out).
  static void ToI420(const EncoderSettings& settings, const uint8_t* bgrBottomUp, uint8_t* i420);

  // Encodes one I420 picture with its time in milliseconds (later than the previous one);
  // forceKeyframe makes it a keyframe. Takes the reference: the buffer is freed once the encoder
  // no longer reads it.
  bool Encode(AVBufferRef* i420, int64_t ptsMs, bool forceKeyframe);
  // No more pictures: the encoder hands out what it still holds.
  void Flush();
  // The bit rate (and the one-second VBV with it) from the next picture on.
  void SetBitrate(int kbps);
  const AVCodecContext* context() const { return codec_.get(); }

 private:
  VideoEncoder() = default;
  PacketSink* sink_ = nullptr;
  PacketPtr packet_;
  CodecContextPtr codec_;
  EncoderSettings settings_;
  FramePtr frame_;  // fields only: its planes point into the picture being encoded
};

}  // namespace verbena
