#include "verbena/flv_output.h"

#include <cerrno>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/log.h"

namespace verbena {

int FlvOutput::Interrupted(void* self) {
  auto* output = static_cast<FlvOutput*>(self);
  if (output->abort_ != nullptr && output->abort_->load(std::memory_order_relaxed)) return 1;
  return av_gettime_relative() > output->deadlineUs_.load(std::memory_order_relaxed) ? 1 : 0;
}

void FlvOutput::SetDeadline(int timeoutMs) {
  deadlineUs_.store(av_gettime_relative() + int64_t{timeoutMs} * 1000, std::memory_order_relaxed);
}

namespace {

bool AddStream(AVFormatContext* context, const AVCodecContext* codec) {
  AVStream* stream = avformat_new_stream(context, nullptr);
  if (stream == nullptr) return false;
  if (avcodec_parameters_from_context(stream->codecpar, codec) < 0) return false;
  stream->time_base = kMillisecond;
  return true;
}

}  // namespace

std::unique_ptr<FlvOutput> FlvOutput::Open(const OutputOptions& options, int timeoutMs,
                                           int* error) {
  std::unique_ptr<FlvOutput> output(new FlvOutput);
  output->abort_ = options.abort;
  output->SetDeadline(timeoutMs);
  *error =
      avformat_alloc_output_context2(&output->context_, nullptr, "flv", options.target.c_str());
  if (*error < 0) return nullptr;
  AVFormatContext* context = output->context_;
  context->interrupt_callback = {&FlvOutput::Interrupted, output.get()};
  // A stalled sound source must not hold pictures back for long.
  context->max_interleave_delta = 300000;
  if (!AddStream(context, options.video) ||
      (options.audio != nullptr && !AddStream(context, options.audio))) {
    *error = AVERROR(ENOMEM);
    return nullptr;
  }

  AVDictionary* ioOptions = nullptr;
  if (options.live) {
    av_dict_set_int(&ioOptions, "rw_timeout", int64_t{timeoutMs} * 1000, 0);
    av_dict_set(&ioOptions, "tcp_nodelay", "1", 0);
    if (options.sendBufferBytes > 0)
      av_dict_set_int(&ioOptions, "send_buffer_size", options.sendBufferBytes, 0);
  }
  *error = avio_open2(&context->pb, options.target.c_str(), AVIO_FLAG_WRITE,
                      &context->interrupt_callback, &ioOptions);
  av_dict_free(&ioOptions);
  if (*error < 0) return nullptr;

  AVDictionary* muxOptions = nullptr;
  if (options.live) av_dict_set(&muxOptions, "flvflags", "no_duration_filesize", 0);
  *error = avformat_write_header(context, &muxOptions);
  av_dict_free(&muxOptions);
  if (*error < 0) return nullptr;
  output->headerWritten_ = true;
  *error = 0;
  return output;
}

bool FlvOutput::Write(const AVPacket* packet, int timeoutMs, int* error) {
  *error = 0;
  if (broken_ || context_ == nullptr) {
    *error = AVERROR(EPIPE);
    return false;
  }
  bool video = packet->stream_index == kVideoStream;
  if (!video && context_->nb_streams < 2) return true;
  int64_t dts = packet->dts;
  int64_t pts = packet->pts;
  if (!start_.Admit(video, (packet->flags & AV_PKT_FLAG_KEY) != 0, &dts, &pts)) return true;
  // The interleaver takes the reference; the caller keeps its own.
  *error = av_packet_ref(scratch_.get(), packet);
  if (*error < 0) return false;
  scratch_->dts = dts;
  scratch_->pts = pts;
  scratch_->time_base = kMillisecond;
  int size = scratch_->size;
  SetDeadline(timeoutMs);
  *error = av_interleaved_write_frame(context_, scratch_.get());
  av_packet_unref(scratch_.get());
  if (*error < 0 || (context_->pb != nullptr && context_->pb->error < 0)) {
    if (*error >= 0) *error = context_->pb->error;
    broken_ = true;
    return false;
  }
  bytesWritten_ += static_cast<uint64_t>(size);
  if (video) ++picturesWritten_;
  return true;
}

void FlvOutput::Finish(int timeoutMs) {
  if (context_ == nullptr) return;
  SetDeadline(timeoutMs);
  if (headerWritten_ && !broken_) {
    int error = av_write_trailer(context_);
    if (error < 0) Log("could not finish %s: %s", context_->url, ErrorText(error).c_str());
  }
  Close();
}

void FlvOutput::Close() {
  if (context_ == nullptr) return;
  // Closing must not wait either: a dead server gets no more time.
  SetDeadline(200);
  if (context_->pb != nullptr) avio_closep(&context_->pb);
  avformat_free_context(context_);
  context_ = nullptr;
}

FlvOutput::~FlvOutput() {
  Close();
}

bool IsRefusal(int error) {
  switch (error) {
    case AVERROR(ECONNREFUSED):
    case AVERROR(ETIMEDOUT):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ENETUNREACH):
    case AVERROR(ECONNRESET):
    case AVERROR(EPIPE):
    case AVERROR(EIO):
    case AVERROR(EAGAIN):
    case AVERROR_EXIT:
    case AVERROR_EOF:
      return false;
    default:
      return true;
  }
}

}  // namespace verbena
