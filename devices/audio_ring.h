// The sound ring: 16 chunks of ChunkBytes that the capture fills and a reader empties in whole
// chunks, oldest first, never handing a byte on twice. The arithmetic is shared by every sound
// backend; AudioRing adds the storage and the hand-over between a producer and a reader thread
// for backends whose device does not keep a ring of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace quillon {

inline constexpr uint32_t kRingChunks = 16;

// One piece of the ring, as an offset from the ring's start and a byte count.
struct RingPiece {
  uint32_t Offset = 0;
  uint32_t Bytes = 0;
};

// What one read hands on: up to two pieces (the ring's tail before its head when the region
// wraps) and the offset of the next byte to read afterwards.
struct ChunkRead {
  RingPiece First;
  RingPiece Second;  // Bytes 0 when the region does not wrap
  uint32_t NextOffset = 0;

  uint32_t Bytes() const { return First.Bytes + Second.Bytes; }
};

// The whole chunks ready between nextOffset and readPosition, measured around a ring of
// ringBytes. A partial chunk waits for the next read; nothing ready gives Bytes() 0 and
// NextOffset unchanged. ringBytes and chunkBytes must be non-zero, nextOffset and readPosition
// below ringBytes.
ChunkRead PlanChunkRead(uint32_t ringBytes, uint32_t chunkBytes, uint32_t nextOffset,
                        uint32_t readPosition);

// The PCM capture format (the numbers of a WAVEFORMATEX).
struct PcmFormat {
  uint16_t FormatTag = 1;  // PCM
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t ExtraSize = 0;
};

// The format for the capture object's three numbers: the block is (bits / 8) bytes per channel,
// integer division, so 12 bits count as one byte.
PcmFormat BuildFormat(int32_t samplesPerSec, int32_t bitsPerSample, int32_t chanels);

// A ring of kRingChunks chunks between one producer thread (Write) and one reader thread
// (WaitForChunks/ReadChunks). The reader hands the bytes on straight from the ring; the producer
// never overwrites what the reader has not finished with. When the reader falls behind by the
// whole ring, new sound is dropped (and counted) rather than old sound overwritten.
class AudioRing {
 public:
  explicit AudioRing(uint32_t chunkBytes);

  uint32_t ChunkBytes() const { return chunkBytes_; }
  uint32_t RingBytes() const { return static_cast<uint32_t>(ring_.size()); }

  // Producer: appends bytes (nullptr appends silence). Returns how many fitted.
  size_t Write(const uint8_t* data, size_t bytes);

  // Wakes every waiter; from then on WaitForChunks returns false at once.
  void RequestStop();
  // Marks the source as failed and wakes the reader.
  void Fail();
  bool Failed() const;
  uint64_t DroppedBytes() const;

  // Reader: waits until a whole chunk is ready (true) or a stop or failure was requested (false).
  bool WaitForChunks();

  // Reader: hands every whole chunk that is ready to handOn(const uint8_t*, uint32_t), oldest
  // first, one call per contiguous piece. Returns the bytes handed on.
  template <typename HandOn>
  uint32_t ReadChunks(HandOn&& handOn) {
    ChunkRead read;
    {
      std::lock_guard lock(mutex_);
      read = PlanChunkRead(RingBytes(), chunkBytes_, nextOffset_, writeOffset_);
    }
    if (read.First.Bytes != 0) handOn(ring_.data() + read.First.Offset, read.First.Bytes);
    if (read.Second.Bytes != 0) handOn(ring_.data() + read.Second.Offset, read.Second.Bytes);
    {
      std::lock_guard lock(mutex_);
      nextOffset_ = read.NextOffset;
      unread_ -= read.Bytes();
    }
    return read.Bytes();
  }

 private:
  const uint32_t chunkBytes_;
  std::vector<uint8_t> ring_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  uint32_t writeOffset_ = 0;  // where the producer writes next
  uint32_t nextOffset_ = 0;   // where the reader reads next
  uint32_t unread_ = 0;       // bytes between nextOffset_ and writeOffset_
  uint64_t dropped_ = 0;
  bool stop_ = false;
  bool failed_ = false;
};

}  // namespace quillon
