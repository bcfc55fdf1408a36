#include "devices/audio_ring.h"

#include <algorithm>
#include <cstring>

namespace quillon {

ChunkRead PlanChunkRead(uint32_t ringBytes, uint32_t chunkBytes, uint32_t nextOffset,
                        uint32_t readPosition) {
  ChunkRead read;
  read.NextOffset = nextOffset;
  // Measured around the ring: a read position behind the next offset means the capture wrapped.
  uint32_t ready = readPosition >= nextOffset ? readPosition - nextOffset
                                              : ringBytes - nextOffset + readPosition;
  ready -= ready % chunkBytes;
  if (ready == 0) return read;
  const uint32_t toEnd = ringBytes - nextOffset;
  read.First = {nextOffset, std::min(ready, toEnd)};
  if (ready > toEnd) read.Second = {0, ready - toEnd};
  read.NextOffset = static_cast<uint32_t>((uint64_t{nextOffset} + ready) % ringBytes);
  return read;
}

PcmFormat BuildFormat(int32_t samplesPerSec, int32_t bitsPerSample, int32_t chanels) {
  PcmFormat format;
  format.Channels = static_cast<uint16_t>(chanels);
  format.SamplesPerSec = static_cast<uint32_t>(samplesPerSec);
  format.BlockAlign = static_cast<uint16_t>((bitsPerSample / 8) * chanels);
  format.AvgBytesPerSec = uint32_t{format.BlockAlign} * format.SamplesPerSec;
  format.BitsPerSample = static_cast<uint16_t>(bitsPerSample);
  return format;
}

AudioRing::AudioRing(uint32_t chunkBytes)
    : chunkBytes_(chunkBytes), ring_(size_t{chunkBytes} * kRingChunks) {}

size_t AudioRing::Write(const uint8_t* data, size_t bytes) {
  std::unique_lock lock(mutex_);
  const uint32_t ringBytes = RingBytes();
  // The ring never fills completely: equal offsets mean empty.
  const size_t room = ringBytes - 1 - unread_;
  const size_t fitting = std::min(bytes, room);
  dropped_ += bytes - fitting;
  const uint32_t start = writeOffset_;
  lock.unlock();
  // The region [start, start + fitting) is neither read nor handed on until writeOffset_ moves
  // past it below, so it is filled without the lock.
  size_t done = 0;
  while (done < fitting) {
    const size_t offset = (start + done) % ringBytes;
    const size_t piece = std::min(fitting - done, ringBytes - offset);
    if (data != nullptr) {
      std::memcpy(ring_.data() + offset, data + done, piece);
    } else {
      std::memset(ring_.data() + offset, 0, piece);
    }
    done += piece;
  }
  lock.lock();
  writeOffset_ = static_cast<uint32_t>((start + fitting) % ringBytes);
  unread_ += static_cast<uint32_t>(fitting);
  const bool wholeChunk = unread_ >= chunkBytes_;
  lock.unlock();
  if (wholeChunk) ready_.notify_all();
  return fitting;
}

void AudioRing::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  ready_.notify_all();
}

void AudioRing::Fail() {
  {
    std::lock_guard lock(mutex_);
    failed_ = true;
  }
  ready_.notify_all();
}

bool AudioRing::Failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

uint64_t AudioRing::DroppedBytes() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool AudioRing::WaitForChunks() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return stop_ || failed_ || unread_ >= chunkBytes_; });
  return !stop_ && !failed_;
}

}  // namespace quillon
