// Small helpers around FFmpeg's C types: owners that free them, and error texts.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace verbena {

struct CodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
struct BufferUnref {
  void operator()(AVBufferRef* buffer) const { av_buffer_unref(&buffer); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using BufferPtr = std::unique_ptr<AVBufferRef, BufferUnref>;

// An output's error when the server's host name does not resolve, or its lookup got no answer.
constexpr int kErrorHostNotFound = FFERRTAG('V', 'H', 'N', 'F');

// An rtmps:// server's certificate that is not accepted: not from a trusted authority, out of its
// validity period, or for another host. Our Windows FFmpeg's Schannel gives these very codes
// (scripts/patches/ffmpeg-schannel-verify.patch); on Linux FFmpeg's GnuTLS says only "input/output
// error", and CheckCertificate finds out which it was.
constexpr int kErrorCertificateUntrusted = FFERRTAG('T', 'L', 'S', 'U');
constexpr int kErrorCertificateExpired = FFERRTAG('T', 'L', 'S', 'E');
constexpr int kErrorCertificateOtherHost = FFERRTAG('T', 'L', 'S', 'H');

inline bool IsCertificateError(int error) {
  return error == kErrorCertificateUntrusted || error == kErrorCertificateExpired ||
         error == kErrorCertificateOtherHost;
}

inline std::string ErrorText(int error) {
  if (error == kErrorHostNotFound) return "host name not found";
  if (error == kErrorCertificateUntrusted)
    return "the server's certificate is not from a trusted authority";
  if (error == kErrorCertificateExpired) return "the server's certificate has expired";
  if (error == kErrorCertificateOtherHost) return "the server's certificate is for another host";
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(error, text, sizeof text);
  return text;
}

// Stream indexes in every output, and the time base of the packets between the encoders and the
// outputs: milliseconds, as FLV stores them.
constexpr int kVideoStream = 0;
constexpr int kAudioStream = 1;
constexpr AVRational kMillisecond = {1, 1000};

// Takes the encoders' finished packets (millisecond time base). The packet is valid during the
// call only; a sink that keeps it takes a reference of its own.
class PacketSink {
 public:
  virtual void OnPacket(const AVPacket* packet) = 0;

 protected:
  ~PacketSink() = default;
};

// Opens the encoder and makes the one frame it is fed through, shaped by shape (format and size)
// after the encoder is open and given buffers of its own; without shape, a bare frame whose
// caller points it at buffers. nullptr, with the reason in *error, on failure.
FramePtr OpenEncoder(AVCodecContext* codec, const AVCodec* implementation,
                     void (*shape)(AVFrame* frame, const AVCodecContext* codec),
                     std::string* error);

// Hands every packet the encoder has ready to the sink.
void DrainEncoder(AVCodecContext* codec, AVPacket* scratch, int streamIndex, PacketSink* sink);

}  // namespace verbena
