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
  encoder->timeline_ = SoundTimeline(settings.samplesPerSecond);
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
  encoder->frame_ = OpenEncoder(
      c, codec,
      [](AVFrame* frame, const AVCodecContext* open) {
        frame->format = open->sample_fmt;
        frame->sample_rate = open->sample_rate;
        frame->nb_samples = open->frame_size;
        av_channel_layout_copy(&frame->ch_layout, &open->ch_layout);
      },
      error);
  if (encoder->frame_ == nullptr) return nullptr;
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
  const auto frames = static_cast<int64_t>(bytes / static_cast<size_t>(settings_.blockBytes));
  SoundTimeline::Placement place = timeline_.Sound(startUs, frames);
  if (place.silence > 0) Append(nullptr, place.silence, place.at);
  Append(pcm, frames, place.at + place.silence);
}

void AudioEncoder::FollowPicture(int64_t pictureUs) {
  SoundTimeline::Placement place = timeline_.Picture(pictureUs);
  if (place.silence > 0) Append(nullptr, place.silence, place.at);
}

void AudioEncoder::Append(const uint8_t* pcm, int64_t count, int64_t at) {
  const int channels = settings_.channels;
  const bool wide = settings_.bitsPerSample == 16;
  const int frameSize = codec_->frame_size;
  int64_t done = 0;
  while (done < count) {
    AVFrame* frame = frame_.get();
    if (filled_ == 0) {
      if (av_frame_make_writable(frame) < 0) return;
      frameStart_ = at + done;
    }
    const int take = static_cast<int>(std::min<int64_t>(count - done, frameSize - filled_));
    for (int channel = 0; channel < channels; ++channel) {
      float* out = reinterpret_cast<float*>(frame->data[channel]) + filled_;
      if (pcm == nullptr) {
        std::fill(out, out + take, 0.0f);
      } else if (wide) {
        const uint8_t* in = pcm + (static_cast<size_t>(done) * channels + channel) * 2;
        for (int i = 0; i < take; ++i, in += channels * 2)
          out[i] = static_cast<int16_t>(in[0] | (in[1] << 8)) * (1.0f / 32768.0f);
      } else {
        const uint8_t* in = pcm + static_cast<size_t>(done) * channels + channel;
        for (int i = 0; i < take; ++i, in += channels)
          out[i] = (static_cast<int>(*in) - 128) * (1.0f / 128.0f);
      }
    }
    filled_ += take;
    done += take;
    if (filled_ == frameSize) SendPending();
  }
}

void AudioEncoder::Flush(int64_t endUs) {
  if (endUs >= 0) {
    SoundTimeline::Placement place = timeline_.End(endUs);
    if (place.silence > 0) Append(nullptr, place.silence, place.at);
  }
  if (filled_ > 0) SendPending();
  avcodec_send_frame(codec_.get(), nullptr);
  DrainEncoder(codec_.get(), packet_.get(), kAudioStream, sink_);
}

}  // namespace verbena
