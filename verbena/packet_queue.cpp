#include "verbena/packet_queue.h"

#include <chrono>
#include <cstring>

namespace verbena {

PacketQueue::PacketQueue(size_t maxPackets) : maxPackets_(maxPackets) {}

PacketQueue::~PacketQueue() {
  for (AVPacket* packet : waiting_) av_packet_free(&packet);
  for (AVPacket* packet : free_) av_packet_free(&packet);
}

void PacketQueue::Push(const AVPacket* packet) {
  std::unique_lock lock(mutex_);
  if (closed_) return;
  AVPacket* holder = nullptr;
  if (waiting_.size() >= maxPackets_) {
    holder = waiting_.front();
    waiting_.pop_front();
    av_packet_unref(holder);
  } else if (!free_.empty()) {
    holder = free_.back();
    free_.pop_back();
  } else {
    holder = av_packet_alloc();
    if (holder == nullptr) return;
  }
  // A copy of its own rather than a second reference: the encoder's buffer is then released by
  // the encoder thread alone, and the copy by the connection's thread alone (the data is small).
  if (av_new_packet(holder, packet->size) < 0 || av_packet_copy_props(holder, packet) < 0) {
    av_packet_unref(holder);
    free_.push_back(holder);
    return;
  }
  if (packet->size > 0) std::memcpy(holder->data, packet->data, static_cast<size_t>(packet->size));
  waiting_.push_back(holder);
  lock.unlock();
  condition_.notify_one();
}

AVPacket* PacketQueue::Pop(int timeoutMs) {
  std::unique_lock lock(mutex_);
  condition_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return !waiting_.empty() || closed_; });
  if (waiting_.empty()) return nullptr;
  AVPacket* packet = waiting_.front();
  waiting_.pop_front();
  return packet;
}

void PacketQueue::Release(AVPacket* packet) {
  if (packet == nullptr) return;
  av_packet_unref(packet);
  std::lock_guard lock(mutex_);
  free_.push_back(packet);
}

void PacketQueue::Clear() {
  std::lock_guard lock(mutex_);
  for (AVPacket* packet : waiting_) {
    av_packet_unref(packet);
    free_.push_back(packet);
  }
  waiting_.clear();
}

void PacketQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  condition_.notify_all();
}

bool PacketQueue::ClosedAndEmpty() {
  std::lock_guard lock(mutex_);
  return closed_ && waiting_.empty();
}

int64_t PacketQueue::BacklogMs() {
  std::lock_guard lock(mutex_);
  if (waiting_.size() < 2) return 0;
  return waiting_.back()->dts - waiting_.front()->dts;
}

}  // namespace verbena
