#include "verbena/ffmpeg_util.h"

namespace verbena {

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
