// H.264 through libx264: converts one bottom-up BGR picture to I420 (libyuv, rows flipped in the
// same pass) and encodes it.
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

  // Encodes one picture of settings.pictureBytes with its time in milliseconds (later than the
  // previous one). forceKeyframe makes it a keyframe.
  bool Encode(const uint8_t* bgrBottomUp, int64_t ptsMs, bool forceKeyframe);
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
  FramePtr frame_;
  int width_ = 0;  // of the pictures handed in
  int height_ = 0;
};

}  // namespace verbena
