// The hand-over from the caller's threads to the encoder thread. Every buffer is allocated up
// front (pictures) or kept for reuse (sound), so a Put call copies and returns without touching
// the allocator in steady state. The picture buffers are not filled when made: the system maps
// their pages at the first copy, so a start does not wait for tens of megabytes of zeros.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace verbena {

// Wakes the encoder thread when any queue gets data or when it has to stop.
class Wakeup {
 public:
  void Notify();
  // Waits until notified or until the timeout passed; returns at once when a notification is
  // pending. Clears the pending notification.
  void Wait(int timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool pending_ = false;
};

struct Picture {
  std::unique_ptr<uint8_t[]> bytes;  // the queue's picture size; read only after a Push wrote it
  int64_t arrivalUs = 0;  // monotonic clock when the caller handed it over
};

// Pictures waiting to be encoded. When the encoder falls behind, the oldest waiting picture is
// dropped for the new one, and counted.
class PictureQueue {
 public:
  // depth: pictures that may wait; a few more buffers exist for the callers copying in and the
  // one being encoded.
  PictureQueue(size_t pictureBytes, size_t depth, Wakeup* wakeup);
  PictureQueue(const PictureQueue&) = delete;
  PictureQueue& operator=(const PictureQueue&) = delete;

  // Copies one whole picture in. False (and nothing kept) when the length is not the picture size.
  bool Push(const uint8_t* data, size_t length, int64_t arrivalUs);
  // The oldest waiting picture, or nullptr; hand it back with Release when done.
  Picture* Pop();
  void Release(Picture* picture);
  // Arrival time of the oldest waiting picture, or -1 when none waits.
  int64_t OldestArrival();
  uint64_t Dropped();
  size_t Waiting();

 private:
  const size_t pictureBytes_;
  const size_t depth_;
  Wakeup* const wakeup_;
  std::mutex mutex_;
  std::vector<Picture> storage_;
  std::vector<Picture*> free_;
  std::deque<Picture*> waiting_;
  uint64_t dropped_ = 0;
};

struct SoundChunk {
  std::vector<uint8_t> bytes;  // capacity: one chunk; size: the bytes it holds
  int64_t endUs = 0;           // monotonic clock at the end of the chunk's last sample
};

// Sound waiting to be encoded. Nothing is dropped while the backlog stays under maxBytes (many
// seconds); chunks are kept for reuse, so the allocator is touched only while the backlog grows.
class SoundQueue {
 public:
  SoundQueue(size_t chunkBytes, size_t blockBytes, size_t bytesPerSecond, size_t maxBytes,
             Wakeup* wakeup);
  SoundQueue(const SoundQueue&) = delete;
  SoundQueue& operator=(const SoundQueue&) = delete;

  // Copies PCM in; arrivalUs is when the last sample arrived. False (and nothing kept) when the
  // length is not a positive number of whole sample frames.
  bool Push(const uint8_t* data, size_t length, int64_t arrivalUs);
  SoundChunk* Pop();
  void Release(SoundChunk* chunk);
  int64_t OldestArrival();  // end time of the oldest waiting chunk, or -1
  uint64_t Blocks();        // sample blocks (chunks) accepted
  uint64_t DroppedBytes();  // only when the backlog passed maxBytes

 private:
  SoundChunk* TakeFreeChunk();  // mutex held

  const size_t chunkBytes_;
  const size_t blockBytes_;
  const size_t bytesPerSecond_;
  const size_t maxChunks_;
  Wakeup* const wakeup_;
  std::mutex mutex_;
  std::deque<SoundChunk> storage_;  // stable addresses while growing
  std::vector<SoundChunk*> free_;
  std::deque<SoundChunk*> waiting_;
  uint64_t blocks_ = 0;
  uint64_t droppedBytes_ = 0;
};

}  // namespace verbena
