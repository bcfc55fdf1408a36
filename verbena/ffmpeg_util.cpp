#include "verbena/ffmpeg_util.h"

namespace verbena {

FramePtr OpenEncoder(AVCodecContext* codec, const AVCodec* implementation,
                     void (*shape)(AVFrame* frame, const AVCodecContext* codec),
                     std::string* error) {
  int result = avcodec_open2(codec, implementation, nullptr);
  if (result < 0) {
    *error = std::string("could not open ") + implementation->name + ": " + ErrorText(result);
    return nullptr;
  }
  FramePtr frame(av_frame_alloc());
  if (frame == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  if (shape == nullptr) return frame;
  shape(frame.get(), codec);
  result = av_frame_get_buffer(frame.get(), 0);
  if (result < 0) {
    *error = "no frame buffer: " + ErrorText(result);
    return nullptr;
  }
  return frame;
}

void DrainEncoder(AVCodecContext* codec, AVPacket* scratch, int streamIndex, PacketSink* sink) {
  while (avcodec_receive_packet(codec, scratch) >= 0) {
    av_packet_rescale_ts(scratch, codec->time_base, kMillisecond);
    scratch->stream_index = streamIndex;
    scratch->time_base = kMillisecond;
    if (sink != nullptr) sink->OnPacket(scratch);
    av_packet_unref(scratch);
  }
}

}  // namespace verbena
