#include "verbena/video_encoder.h"

#include <libyuv/convert.h>

extern "C" {
#include <libavutil/opt.h>
}

#include "verbena/log.h"

namespace verbena {

std::unique_ptr<VideoEncoder> VideoEncoder::Open(const EncoderSettings& settings, PacketSink* sink,
                                                 std::string* error) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) {
    *error = "this FFmpeg has no libx264 encoder";
    return nullptr;
  }
  std::unique_ptr<VideoEncoder> encoder(new VideoEncoder);
  encoder->sink_ = sink;
  encoder->packet_.reset(av_packet_alloc());
  encoder->settings_ = settings;
  encoder->codec_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* c = encoder->codec_.get();
  if (c == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  c->width = settings.encodedWidth;
  c->height = settings.encodedHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = kMillisecond;
  c->framerate = {settings.frameRate, 1};
  c->gop_size = settings.keyframeInterval;
  c->max_b_frames = 0;
  encoder->codec_->bit_rate = 0;
  encoder->SetBitrate(settings.bitrateKbps);
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(c->priv_data, "preset", settings.preset, 0);
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  // A keyframe asked for after a reconnect must be one a new viewer can start from.
  av_opt_set(c->priv_data, "forced-idr", "1", 0);
  encoder->frame_ = OpenEncoder(c, codec, nullptr, error);
  if (encoder->frame_ == nullptr) return nullptr;
  return encoder;
}

void VideoEncoder::SetBitrate(int kbps) {
  AVCodecContext* c = codec_.get();
  c->bit_rate = int64_t{kbps} * 1000;
  // A one-second VBV keeps the rate steady enough for the link without starving keyframes.
  // FFmpeg's x264 wrapper hands changes of these to x264 at the next picture.
  c->rc_max_rate = c->bit_rate;
  c->rc_buffer_size = static_cast<int>(c->bit_rate);
}

size_t VideoEncoder::I420Bytes(const EncoderSettings& settings) {
  const size_t luma = size_t(settings.encodedWidth) * size_t(settings.encodedHeight);
  return luma + luma / 2;  // two chroma planes of a quarter each (the sides are even)
}

namespace {

struct I420Planes {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  int lumaStride;
  int chromaStride;
};

I420Planes PlanesOf(const EncoderSettings& settings, uint8_t* i420) {
  const size_t luma = size_t(settings.encodedWidth) * size_t(settings.encodedHeight);
  return {i420, i420 + luma, i420 + luma + luma / 4, settings.encodedWidth,
          settings.encodedWidth / 2};
}

}  // namespace

void VideoEncoder::ToI420(const EncoderSettings& settings, const uint8_t* bgrBottomUp,
                         uint8_t* i420) {
  // The last row in memory is the picture's top line; a negative stride walks up from it, so the
  // conversion turns the picture upright in the same pass.
  const int stride = settings.width * 3;
  const uint8_t* top = bgrBottomUp + static_cast<ptrdiff_t>(settings.height - 1) * stride;
  const I420Planes p = PlanesOf(settings, i420);
  libyuv::RGB24ToI420(top, -stride, p.y, p.lumaStride, p.u, p.chromaStride, p.v, p.chromaStride,
                      settings.encodedWidth, settings.encodedHeight);
}

bool VideoEncoder::Encode(AVBufferRef* i420, int64_t ptsMs, bool forceKeyframe) {
  AVFrame* frame = frame_.get();
  const AVCodecContext* c = codec_.get();
  frame->format = c->pix_fmt;
  frame->width = c->width;
  frame->height = c->height;
  const I420Planes p = PlanesOf(settings_, i420->data);
  frame->data[0] = p.y;
  frame->data[1] = p.u;
  frame->data[2] = p.v;
  frame->linesize[0] = p.lumaStride;
  frame->linesize[1] = frame->linesize[2] = p.chromaStride;
  frame->buf[0] = i420;
  frame->pts = ptsMs;
  frame->pict_type = forceKeyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  frame->key_frame = forceKeyframe ? 1 : 0;
  int result = avcodec_send_frame(codec_.get(), frame);
  av_frame_unref(frame);  // the encoder keeps its own reference for as long as it reads
  if (result < 0) {
    Log("picture not encoded: %s", ErrorText(result).c_str());
    return false;
  }
  DrainEncoder(codec_.get(), packet_.get(), kVideoStream, sink_);
  return true;
}

void VideoEncoder::Flush() {
  avcodec_send_frame(codec_.get(), nullptr);
  DrainEncoder(codec_.get(), packet_.get(), kVideoStream, sink_);
}

}  // namespace verbena
