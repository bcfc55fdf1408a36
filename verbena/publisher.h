// The connection's own thread: sends the encoded packets to the RTMP server and, when the server
// goes away, keeps taking packets (and dropping them) while it reconnects with growing waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "verbena/flv_output.h"
#include "verbena/packet_queue.h"
#include "verbena/reconnect_policy.h"
#include "verbena/stats.h"

namespace verbena {

class Publisher {
 public:
  static constexpr int kConnectTimeoutMs = kConnectLimitMs;
  static constexpr int kWriteTimeoutMs = 3000;

  // connection: already open (Start made it). keyframeWanted is raised after each reconnect so
  // that the next picture starts the new stream.
  Publisher(const OutputOptions& options, std::unique_ptr<FlvOutput> connection, Stats* stats,
            std::atomic<bool>* keyframeWanted);
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  PacketQueue& packets() { return packets_; }
  const std::atomic<bool>* abortFlag() const { return &abort_; }
  // Starts the thread.
  void Start();
  // After packets().Close(): sends what is left within timeoutMs, finishes the stream, joins.
  void Finish(int timeoutMs);

 private:
  void Run();
  void Send(const AVPacket* packet);
  void Reconnect();
  void UpdateBitrate();
  int WriteTimeoutMs() const;  // shorter once Finish set a deadline

  OutputOptions options_;
  std::unique_ptr<FlvOutput> connection_;
  Stats* const stats_;
  std::atomic<bool>* const keyframeWanted_;
  PacketQueue packets_;
  ReconnectPolicy policy_;
  std::atomic<bool> abort_{false};
  std::atomic<bool> connecting_{false};
  std::atomic<int64_t> finishDeadlineUs_{INT64_MAX};
  std::thread thread_;
  // Thread only:
  bool gaveUp_ = false;
  bool sentPicture_ = false;  // for the timing log
  int64_t nextAttemptUs_ = 0;
  uint64_t bytesBefore_ = 0;  // sent on earlier connections
  uint64_t picturesBefore_ = 0;
  int64_t windowStartUs_ = 0;
  uint64_t windowStartBytes_ = 0;
};

}  // namespace verbena
