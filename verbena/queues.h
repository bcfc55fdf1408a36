// The hand-over from the caller's threads to the encoder thread. Every buffer is allocated up
// front (pictures) or kept for reuse (sound), so a Put call writes and returns without touching
// the allocator in steady state. The picture buffers are not filled when made: the system maps
// their pages at the first write, so a start does not wait for tens of megabytes of zeros.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
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

class PictureQueue;

struct Picture {
  std::unique_ptr<uint8_t[]> bytes;  // the queue's slot size; read only after a Push wrote it
  int64_t arrivalUs = 0;  // monotonic clock when the caller handed it over
  PictureQueue* home = nullptr;  // the queue to Release it to
};

// Pictures waiting to be encoded. When the encoder falls behind, the oldest waiting picture is
// dropped for the new one, and counted.
class PictureQueue {
 public:
  // Writes a slot of slotBytes from a picture of the input size.
  using Fill = std::function<void(const uint8_t* picture, uint8_t* slot)>;

  // depth: pictures that may wait; a few more buffers exist for the callers copying in and the
  // one being encoded. Pictures are copied in as they are.
  PictureQueue(size_t pictureBytes, size_t depth, Wakeup* wakeup);
  // Pictures of pictureBytes are written into slots of slotBytes by fill, on the caller's thread
  // (a conversion there saves the encoder thread a copy).
  PictureQueue(size_t pictureBytes, size_t slotBytes, Fill fill, size_t depth, Wakeup* wakeup);
  PictureQueue(const PictureQueue&) = delete;
  PictureQueue& operator=(const PictureQueue&) = delete;

  // Takes one whole picture in. False (and nothing kept) when the length is not the picture size.
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
  const Fill fill_;
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
