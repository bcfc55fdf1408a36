// Encoded packets on their way from the encoder thread to the connection's thread. Packet
// holders are kept for reuse; each queued packet owns a copy of its data.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "verbena/ffmpeg_util.h"

namespace verbena {

class PacketQueue {
 public:
  // maxPackets: when more wait (only while a connection is being made), the oldest goes.
  explicit PacketQueue(size_t maxPackets);
  ~PacketQueue();
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  void Push(const AVPacket* packet);
  // The oldest packet, waiting up to timeoutMs; nullptr when none came (or the queue is closed
  // and empty). Give it back with Release.
  AVPacket* Pop(int timeoutMs);
  void Release(AVPacket* packet);
  // Drops every waiting packet.
  void Clear();
  // No more packets will come; Pop returns what is left, then nullptr at once.
  void Close();
  bool ClosedAndEmpty();
  // Time between the oldest and the newest waiting packet.
  int64_t BacklogMs();

 private:
  const size_t maxPackets_;
  std::mutex mutex_;
  std::condition_variable condition_;
  std::deque<AVPacket*> waiting_;
  std::vector<AVPacket*> free_;
  bool closed_ = false;
};

}  // namespace verbena
