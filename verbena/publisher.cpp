#include "verbena/publisher.h"

#include <algorithm>

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/log.h"

namespace verbena {

namespace {
// While a connection is being made the queue fills; older packets are of no use afterwards.
constexpr size_t kMaxQueuedPackets = 2048;
}  // namespace

Publisher::Publisher(const OutputOptions& options, std::unique_ptr<FlvOutput> connection,
                     Stats* stats, std::atomic<bool>* keyframeWanted)
    : options_(options),
      connection_(std::move(connection)),
      stats_(stats),
      keyframeWanted_(keyframeWanted),
      packets_(kMaxQueuedPackets) {
  options_.abort = &abort_;
  stats_->connected = connection_ != nullptr;
}

Publisher::~Publisher() {
  packets_.Close();
  Finish(0);
}

void Publisher::Start() {
  windowStartUs_ = av_gettime_relative();
  thread_ = std::thread([this] { Run(); });
}

void Publisher::Finish(int timeoutMs) {
  finishDeadlineUs_ = av_gettime_relative() + int64_t{timeoutMs} * 1000;
  // A connection attempt in progress is of no use any more.
  if (timeoutMs <= 0 || connecting_) abort_ = true;
  if (thread_.joinable()) thread_.join();
}

int Publisher::WriteTimeoutMs() const {
  int64_t deadline = finishDeadlineUs_;
  if (deadline == INT64_MAX) return kWriteTimeoutMs;
  int64_t leftMs = (deadline - av_gettime_relative()) / 1000;
  return static_cast<int>(std::clamp<int64_t>(leftMs, 1, kWriteTimeoutMs));
}

void Publisher::Run() {
  for (;;) {
    const bool finishing = finishDeadlineUs_ != INT64_MAX;
    if (finishing && av_gettime_relative() > finishDeadlineUs_) break;  // what is left is lost
    AVPacket* packet = packets_.Pop(100);
    if (packet != nullptr) {
      Send(packet);
      packets_.Release(packet);
    } else if (packets_.ClosedAndEmpty()) {
      break;
    }
    if (connection_ == nullptr && !gaveUp_ && !finishing && av_gettime_relative() >= nextAttemptUs_)
      Reconnect();
    UpdateBitrate();
  }
  if (connection_ != nullptr) {
    connection_->Finish(WriteTimeoutMs());
    connection_.reset();
  }
  stats_->connected = false;
}

void Publisher::Send(const AVPacket* packet) {
  if (connection_ == nullptr) return;  // between connections: the packet is lost to the server
  int error = 0;
  if (connection_->Write(packet, WriteTimeoutMs(), &error)) {
    if (!sentPicture_ && connection_->PicturesWritten() > 0) {
      sentPicture_ = true;
      LogTiming("first picture written to the connection");
    }
    stats_->bytesSent = bytesBefore_ + connection_->BytesWritten();
    stats_->picturesSent = picturesBefore_ + connection_->PicturesWritten();
    return;
  }
  // A write cut short by Stop is no lost connection: nothing reconnects after it.
  if (finishDeadlineUs_ == INT64_MAX)
    Log("connection to %s lost (%s); the class goes on and reconnects", options_.target.c_str(),
        ErrorText(error).c_str());
  bytesBefore_ += connection_->BytesWritten();
  picturesBefore_ += connection_->PicturesWritten();
  connection_.reset();
  stats_->connected = false;
  stats_->failedAttempts = 0;
  nextAttemptUs_ = av_gettime_relative() + int64_t{policy_.NextWaitSeconds()} * 1000000;
}

void Publisher::Reconnect() {
  int error = 0;
  connecting_ = true;
  if (finishDeadlineUs_ != INT64_MAX) abort_ = true;  // Finish came just now
  connection_ = FlvOutput::Open(options_, kConnectTimeoutMs, &error);
  connecting_ = false;
  if (connection_ != nullptr) {
    policy_.Connected();
    // Whatever waited during the attempt is stale: the new stream starts with the next picture,
    // which is made a keyframe.
    packets_.Clear();
    *keyframeWanted_ = true;
    ++stats_->reconnects;
    stats_->failedAttempts = 0;
    stats_->connected = true;
    Log("reconnected to %s", options_.target.c_str());
    return;
  }
  if (abort_) return;
  ++stats_->failedAttempts;
  bool refused = IsRefusal(error);
  if (!policy_.Failed(refused)) {
    gaveUp_ = true;
    stats_->gaveUp = true;
    Log("%s refuses the stream (%s); no more attempts in this class", options_.target.c_str(),
        ErrorText(error).c_str());
    return;
  }
  int wait = policy_.NextWaitSeconds();
  Log("reconnecting to %s failed (%s); next attempt in %d s", options_.target.c_str(),
      ErrorText(error).c_str(), wait);
  nextAttemptUs_ = av_gettime_relative() + int64_t{wait} * 1000000;
}

void Publisher::UpdateBitrate() {
  int64_t now = av_gettime_relative();
  int64_t elapsedUs = now - windowStartUs_;
  if (elapsedUs < 2000000) return;
  uint64_t bytes = stats_->bytesSent;
  stats_->bitrateKbps =
      static_cast<uint32_t>((bytes - windowStartBytes_) * 8000 / static_cast<uint64_t>(elapsedUs));
  windowStartUs_ = now;
  windowStartBytes_ = bytes;
}

}  // namespace verbena
