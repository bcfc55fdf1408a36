// One FLV stream going out: to an RTMP server or to a local file. Every blocking step (connect,
// header, each write, trailer) is bounded by a deadline and can be cut short by an abort flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "verbena/ffmpeg_util.h"
#include "verbena/stream_start.h"

namespace verbena {

struct OutputOptions {
  std::string target;  // rtmp:// address or file path
  bool live = false;   // RTMP: no duration or size in the header, small send buffer
  const AVCodecContext* video = nullptr;
  const AVCodecContext* audio = nullptr;  // nullptr: no sound stream
  int sendBufferBytes = 0;                // live only
  // rtmps://: the authorities trusted besides the system's, as TrustedAuthorities::CaFile gives
  // them; empty for the system's alone.
  std::string caFile;
  const std::atomic<bool>* abort = nullptr;
};

// An RTMP server that gives no sign of life for this long while the connection is made (no
// answer to the name lookup, the TCP connect or a step of the RTMP handshake) is given up on;
// every step that completes renews it, so a slow link gets the time it needs.
constexpr int kConnectProgressMs = 5000;
// The whole connection, however it progresses: the RTMP handshake and publish take about nine
// round trips, so a link with a round trip of 1.5 s (a satellite with a loaded uplink) fits.
constexpr int kConnectLimitMs = 20000;

class FlvOutput {
 public:
  // Opens the target and writes the header within timeoutMs all told (and, for a live target,
  // without kConnectProgressMs of no progress). On failure returns nullptr and the FFmpeg error
  // in *error.
  static std::unique_ptr<FlvOutput> Open(const OutputOptions& options, int timeoutMs, int* error);
  ~FlvOutput();
  FlvOutput(const FlvOutput&) = delete;
  FlvOutput& operator=(const FlvOutput&) = delete;

  // Writes one packet (millisecond time base; stream kVideoStream or kAudioStream) within
  // timeoutMs; the packet's data is left to the caller. Packets before the output's first
  // keyframe are left out (true). False when the output broke: it is dead then.
  bool Write(const AVPacket* packet, int timeoutMs, int* error);
  // Bytes of the packets written so far.
  uint64_t BytesWritten() const { return bytesWritten_; }
  uint64_t PicturesWritten() const { return picturesWritten_; }
  // Writes the trailer and closes within timeoutMs; the output is dead afterwards.
  void Finish(int timeoutMs);

 private:
  FlvOutput() = default;
  static int Interrupted(void* self);
  void SetDeadline(int timeoutMs);
  // The connection moved on (FFmpeg reported a step): kConnectProgressMs more.
  void Progressed();
  // Opens the connection to the live target, through each looked-up address in turn.
  int Connect(const OutputOptions& output, AVDictionary** ioOptions);
  void Close();

  AVFormatContext* context_ = nullptr;
  bool live_ = false;  // each packet goes out as it comes, not interleaved by FFmpeg
  bool headerWritten_ = false;
  bool broken_ = false;
  std::atomic<int64_t> deadlineUs_{0};
  std::atomic<int64_t> progressDeadlineUs_{INT64_MAX};  // while a live connection is made
  const std::atomic<bool>* abort_ = nullptr;
  StreamStart start_;
  PacketPtr scratch_{av_packet_alloc()};
  uint64_t bytesWritten_ = 0;
  uint64_t picturesWritten_ = 0;
};

// True when an open failed because the server answered and turned the stream down, rather than
// being unreachable or slow.
bool IsRefusal(int error);

}  // namespace verbena
