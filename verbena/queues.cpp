#include "verbena/queues.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace verbena {

void Wakeup::Notify() {
  {
    std::lock_guard lock(mutex_);
    pending_ = true;
  }
  condition_.notify_one();
}

void Wakeup::Wait(int timeoutMs) {
  std::unique_lock lock(mutex_);
  condition_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return pending_; });
  pending_ = false;
}

// Two callers may copy in at once (timer and camera) while the encoder holds one.
constexpr size_t kSparePictures = 3;

PictureQueue::PictureQueue(size_t pictureBytes, size_t depth, Wakeup* wakeup)
    : PictureQueue(
          pictureBytes, pictureBytes,
          [pictureBytes](const uint8_t* picture, uint8_t* slot) {
            std::memcpy(slot, picture, pictureBytes);
          },
          depth, wakeup) {}

PictureQueue::PictureQueue(size_t pictureBytes, size_t slotBytes, Fill fill, size_t depth,
                           Wakeup* wakeup)
    : pictureBytes_(pictureBytes),
      fill_(std::move(fill)),
      depth_(std::max<size_t>(depth, 1)),
      wakeup_(wakeup) {
  storage_.resize(depth_ + kSparePictures);
  for (Picture& picture : storage_) {
    picture.bytes.reset(new uint8_t[slotBytes]);
    picture.home = this;
    free_.push_back(&picture);
  }
}

bool PictureQueue::Push(const uint8_t* data, size_t length, int64_t arrivalUs) {
  if (data == nullptr || length != pictureBytes_) return false;
  Picture* slot = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (waiting_.size() >= depth_ || free_.empty()) {
      if (waiting_.empty()) {  // every buffer is being copied into: more callers than expected
        ++dropped_;
        return true;
      }
      slot = waiting_.front();
      waiting_.pop_front();
      ++dropped_;
    } else {
      slot = free_.back();
      free_.pop_back();
    }
  }
  fill_(data, slot->bytes.get());
  slot->arrivalUs = arrivalUs;
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back(slot);
  }
  if (wakeup_ != nullptr) wakeup_->Notify();
  return true;
}

Picture* PictureQueue::Pop() {
  std::lock_guard lock(mutex_);
  if (waiting_.empty()) return nullptr;
  Picture* picture = waiting_.front();
  waiting_.pop_front();
  return picture;
}

void PictureQueue::Release(Picture* picture) {
  if (picture == nullptr) return;
  std::lock_guard lock(mutex_);
  free_.push_back(picture);
}

int64_t PictureQueue::OldestArrival() {
  std::lock_guard lock(mutex_);
  return waiting_.empty() ? -1 : waiting_.front()->arrivalUs;
}

uint64_t PictureQueue::Dropped() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

size_t PictureQueue::Waiting() {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

SoundQueue::SoundQueue(size_t chunkBytes, size_t blockBytes, size_t bytesPerSecond, size_t maxBytes,
                       Wakeup* wakeup)
    : chunkBytes_(std::max(chunkBytes, blockBytes)),
      blockBytes_(std::max<size_t>(blockBytes, 1)),
      bytesPerSecond_(std::max<size_t>(bytesPerSecond, 1)),
      maxChunks_(std::max<size_t>(maxBytes / std::max(chunkBytes, blockBytes), 2)),
      wakeup_(wakeup) {
  // Enough for a second of sound before the first growth.
  size_t initial = std::min(maxChunks_, bytesPerSecond_ / chunkBytes_ + 2);
  for (size_t i = 0; i < initial; ++i) {
    storage_.emplace_back();
    storage_.back().bytes.reserve(chunkBytes_);
    free_.push_back(&storage_.back());
  }
}

SoundChunk* SoundQueue::TakeFreeChunk() {
  if (!free_.empty()) {
    SoundChunk* chunk = free_.back();
    free_.pop_back();
    return chunk;
  }
  if (storage_.size() < maxChunks_) {
    storage_.emplace_back();
    storage_.back().bytes.reserve(chunkBytes_);
    return &storage_.back();
  }
  if (waiting_.empty()) return nullptr;
  // The encoder thread has not taken sound for many seconds: the oldest goes.
  SoundChunk* chunk = waiting_.front();
  waiting_.pop_front();
  droppedBytes_ += chunk->bytes.size();
  return chunk;
}

bool SoundQueue::Push(const uint8_t* data, size_t length, int64_t arrivalUs) {
  if (data == nullptr || length == 0 || length % blockBytes_ != 0) return false;
  {
    std::lock_guard lock(mutex_);
    size_t offset = 0;
    while (offset < length) {
      SoundChunk* chunk = TakeFreeChunk();
      if (chunk == nullptr) {
        droppedBytes_ += length - offset;
        break;
      }
      size_t piece = std::min(chunkBytes_ - chunkBytes_ % blockBytes_, length - offset);
      chunk->bytes.assign(data + offset, data + offset + piece);
      offset += piece;
      int64_t remainingUs = static_cast<int64_t>((length - offset) * 1000000 / bytesPerSecond_);
      chunk->endUs = arrivalUs - remainingUs;
      waiting_.push_back(chunk);
      ++blocks_;
    }
  }
  if (wakeup_ != nullptr) wakeup_->Notify();
  return true;
}

SoundChunk* SoundQueue::Pop() {
  std::lock_guard lock(mutex_);
  if (waiting_.empty()) return nullptr;
  SoundChunk* chunk = waiting_.front();
  waiting_.pop_front();
  return chunk;
}

void SoundQueue::Release(SoundChunk* chunk) {
  if (chunk == nullptr) return;
  std::lock_guard lock(mutex_);
  free_.push_back(chunk);
}

int64_t SoundQueue::OldestArrival() {
  std::lock_guard lock(mutex_);
  return waiting_.empty() ? -1 : waiting_.front()->endUs;
}

uint64_t SoundQueue::Blocks() {
  std::lock_guard lock(mutex_);
  return blocks_;
}

uint64_t SoundQueue::DroppedBytes() {
  std::lock_guard lock(mutex_);
  return droppedBytes_;
}

}  // namespace verbena
