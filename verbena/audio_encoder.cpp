#include "verbena/audio_encoder.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "verbena/log.h"

namespace verbena {

std::unique_ptr<AudioEncoder> AudioEncoder::Open(const SoundSettings& settings, PacketSink* sink,
                                                 std::string* error) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (codec == nullptr) {
    *error = "this FFmpeg has no AAC encoder";
    return nullptr;
  }
  std::unique_ptr<AudioEncoder> encoder(new AudioEncoder);
  encoder->settings_ = settings;
  encoder->sink_ = sink;
  encoder->packet_.reset(av_packet_alloc());
  encoder->codec_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* c = encoder->codec_.get();
  if (c == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = settings.samplesPerSecond;
  av_channel_layout_default(&c->ch_layout, settings.channels);
  c->bit_rate = settings.bitrate;
  c->time_base = {1, settings.samplesPerSecond};
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(c, codec, nullptr);
  if (result < 0) {
    *error = "could not open the AAC encoder: " + ErrorText(result);
    return nullptr;
  }
  encoder->frame_.reset(av_frame_alloc());
  AVFrame* frame = encoder->frame_.get();
  if (frame == nullptr) {
    *error = "out of memory";
    return nullptr;
  }
  frame->format = c->sample_fmt;
  frame->sample_rate = c->sample_rate;
  frame->nb_samples = c->frame_size;
  av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
  result = av_frame_get_buffer(frame, 0);
  if (result < 0) {
    *error = "no sound buffer: " + ErrorText(result);
    return nullptr;
  }
  return encoder;
}

void AudioEncoder::SendPending() {
  AVFrame* frame = frame_.get();
  const int frameSize = codec_->frame_size;
  for (int channel = 0; channel < settings_.channels; ++channel) {
    auto* samples = reinterpret_cast<float*>(frame->data[channel]);
    std::fill(samples + filled_, samples + frameSize, 0.0f);
  }
  frame->pts = frameStart_;
  int result = avcodec_send_frame(codec_.get(), frame);
  if (result < 0) Log("sound not encoded: %s", ErrorText(result).c_str());
  filled_ = 0;
  DrainEncoder(codec_.get(), packet_.get(), kAudioStream, sink_);
}

void AudioEncoder::Add(const uint8_t* pcm, size_t bytes, int64_t startUs) {
  const int rate = settings_.samplesPerSecond;
  const int channels = settings_.channels;
  const bool wide = settings_.bitsPerSample == 16;
  const size_t frames = bytes / static_cast<size_t>(settings_.blockBytes);
  const int64_t arrivedAt = startUs * rate / 1000000;
  // Counting samples keeps the sound seamless; only a real gap (lost sound, a stalled device)
  // moves the count forward to the clock. Sound is never moved backwards.
  if (nextSample_ < 0 || arrivedAt - nextSample_ > kResyncMs * rate / 1000) {
    if (filled_ > 0) SendPending();
    nextSample_ = std::max<int64_t>(arrivedAt, 0);
  }
  const int frameSize = codec_->frame_size;
  size_t done = 0;
  while (done < frames) {
    AVFrame* frame = frame_.get();
    if (filled_ == 0) {
      if (av_frame_make_writable(frame) < 0) return;
      frameStart_ = nextSample_;
    }
    size_t take = std::min(frames - done, static_cast<size_t>(frameSize - filled_));
    for (int channel = 0; channel < channels; ++channel) {
      float* out = reinterpret_cast<float*>(frame->data[channel]) + filled_;
      if (wide) {
        const uint8_t* in = pcm + (done * channels + channel) * 2;
        for (size_t i = 0; i < take; ++i, in += channels * 2)
          out[i] = static_cast<int16_t>(in[0] | (in[1] << 8)) * (1.0f / 32768.0f);
      } else {
        const uint8_t* in = pcm + done * channels + channel;
        for (size_t i = 0; i < take; ++i, in += channels)
          out[i] = (static_cast<int>(*in) - 128) * (1.0f / 128.0f);
      }
    }
    filled_ += static_cast<int>(take);
    done += take;
    nextSample_ += static_cast<int64_t>(take);
    if (filled_ == frameSize) SendPending();
  }
}

void AudioEncoder::Flush() {
  if (filled_ > 0) SendPending();
  avcodec_send_frame(codec_.get(), nullptr);
  DrainEncoder(codec_.get(), packet_.get(), kAudioStream, sink_);
}

}  // namespace verbena
