#include "verbena/flv_output.h"

#include <algorithm>
#include <cerrno>
#include <string>

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/log.h"
#include "verbena/name_lookup.h"
#include "verbena/rtmp_address.h"
#include "verbena/tls_trust.h"

namespace verbena {

int FlvOutput::Interrupted(void* self) {
  auto* output = static_cast<FlvOutput*>(self);
  if (output->abort_ != nullptr && output->abort_->load(std::memory_order_relaxed)) return 1;
  const int64_t now = av_gettime_relative();
  return now > output->deadlineUs_.load(std::memory_order_relaxed) ||
                 now > output->progressDeadlineUs_.load(std::memory_order_relaxed)
             ? 1
             : 0;
}

void FlvOutput::Progressed() {
  progressDeadlineUs_.store(av_gettime_relative() + int64_t{kConnectProgressMs} * 1000,
                            std::memory_order_relaxed);
}

int FlvOutput::Connect(const OutputOptions& output, AVDictionary** ioOptions) {
  const std::string& target = output.target;
  AVFormatContext* context = context_;
  FfmpegActivity activity([](void* self) { static_cast<FlvOutput*>(self)->Progressed(); }, this);
  Progressed();
  RtmpAddress address;
  const bool split = SplitRtmpAddress(target, &address);
  const bool tls = split && address.scheme == "rtmps";
  if (tls) {
    // The certificate is checked, always: against the trusted authorities and the host name.
    av_dict_set(ioOptions, "tls_verify", "1", 0);
    if (!output.caFile.empty()) av_dict_set(ioOptions, "ca_file", output.caFile.c_str(), 0);
  }
  if (!split || (address.scheme != "rtmp" && !tls) || IsNumericHost(address.host)) {
    return avio_open2(&context->pb, target.c_str(), AVIO_FLAG_WRITE, &context->interrupt_callback,
                      ioOptions);
  }
  // The system's lookup cannot be interrupted: it runs where a deadline can be kept, and the
  // connection goes to the address found, under the name the server knows.
  const NameLookup lookup = LookUpHost(
      address.host,
      std::min(progressDeadlineUs_.load(), deadlineUs_.load(std::memory_order_relaxed)), abort_);
  if (lookup.result == NameLookup::Result::kAborted) return AVERROR_EXIT;
  if (lookup.result != NameLookup::Result::kFound) return kErrorHostNotFound;
  if (tls) {
    // TLS needs the name itself, for the server to pick its certificate and for the check of it:
    // FFmpeg looks it up once more, from the system's cache as a rule now that it answered.
    Progressed();
    const int error = avio_open2(&context->pb, target.c_str(), AVIO_FLAG_WRITE,
                                 &context->interrupt_callback, ioOptions);
    // FFmpeg's GnuTLS does not say why it refused: find out whether the certificate was it.
    if (error == AVERROR(EIO)) {
      const int problem =
          CheckCertificate(address.host, address.port, output.caFile,
                           av_gettime_relative() + int64_t{kConnectProgressMs} * 1000, abort_);
      if (problem != 0) return problem;
    }
    return error;
  }
  int error = AVERROR(EHOSTUNREACH);
  for (const std::string& numeric : lookup.addresses) {
    AVDictionary* options = nullptr;
    av_dict_copy(&options, *ioOptions, 0);
    av_dict_set(&options, "rtmp_tcurl", RtmpTcUrl(address).c_str(), 0);
    Progressed();
    error = avio_open2(&context->pb, WithHost(address, numeric).c_str(), AVIO_FLAG_WRITE,
                       &context->interrupt_callback, &options);
    av_dict_free(&options);
    // The next address only when this one did not take the connection at all.
    if (error >= 0 || (error != AVERROR(ECONNREFUSED) && error != AVERROR(ENETUNREACH) &&
                       error != AVERROR(EHOSTUNREACH) && error != AVERROR(EADDRNOTAVAIL)))
      break;
  }
  return error;
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
  // The recording is interleaved by FFmpeg; a stalled sound source must not hold it up for long.
  context->max_interleave_delta = 300000;
  output->live_ = options.live;
  if (!AddStream(context, options.video) ||
      (options.audio != nullptr && !AddStream(context, options.audio))) {
    *error = AVERROR(ENOMEM);
    return nullptr;
  }

  AVDictionary* ioOptions = nullptr;
  if (options.live) {
    av_dict_set_int(&ioOptions, "rw_timeout", int64_t{kConnectProgressMs} * 1000, 0);
    av_dict_set(&ioOptions, "tcp_nodelay", "1", 0);
    if (options.sendBufferBytes > 0)
      av_dict_set_int(&ioOptions, "send_buffer_size", options.sendBufferBytes, 0);
  }
  if (options.live) {
    *error = output->Connect(options, &ioOptions);
  } else {
    *error = avio_open2(&context->pb, options.target.c_str(), AVIO_FLAG_WRITE,
                        &context->interrupt_callback, &ioOptions);
  }
  av_dict_free(&ioOptions);
  if (*error < 0) return nullptr;

  AVDictionary* muxOptions = nullptr;
  if (options.live) av_dict_set(&muxOptions, "flvflags", "no_duration_filesize", 0);
  *error = avformat_write_header(context, &muxOptions);
  av_dict_free(&muxOptions);
  output->progressDeadlineUs_ = INT64_MAX;  // connected: each write has a deadline of its own
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
  // The muxer takes the reference; the caller keeps its own.
  *error = av_packet_ref(scratch_.get(), packet);
  if (*error < 0) return false;
  scratch_->dts = dts;
  scratch_->pts = pts;
  scratch_->time_base = kMillisecond;
  int size = scratch_->size;
  SetDeadline(timeoutMs);
  // A viewer sees a picture as soon as it is sent, so the live stream gets each packet when it is
  // encoded. FFmpeg's interleaving would hold every picture until sound of the same time was
  // encoded: 200 ms and more while the sound track is filled with silence that trails the
  // pictures, a block or two (and the AAC encoder's frame) with a microphone. Each track stays in
  // order on its own, which is all FLV and its players need. The recording is interleaved, as a
  // file is read at leisure.
  *error = live_ ? av_write_frame(context_, scratch_.get())
                 : av_interleaved_write_frame(context_, scratch_.get());
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
    case kErrorHostNotFound:          // a lookup that failed now may work at the next attempt
    case kErrorCertificateUntrusted:  // the certificate may be mended meanwhile; never unchecked
    case kErrorCertificateExpired:
    case kErrorCertificateOtherHost:
      return false;
    default:
      return true;
  }
}

}  // namespace verbena
