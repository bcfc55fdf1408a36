#include "devices/audio_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

namespace quillon {
namespace {

TEST(PlanChunkRead, WrappedRegionIsHandedOnTailFirstInWholeChunks) {
  // Ring of 16 x 4096; the capture wrapped: 8196 bytes ready, 8192 of them whole chunks.
  const ChunkRead read = PlanChunkRead(65536, 4096, 61440, 4100);
  EXPECT_EQ(read.First.Offset, 61440u);
  EXPECT_EQ(read.First.Bytes, 4096u);
  EXPECT_EQ(read.Second.Offset, 0u);
  EXPECT_EQ(read.Second.Bytes, 4096u);
  EXPECT_EQ(read.NextOffset, 4096u);
}

TEST(PlanChunkRead, PartialChunkWaits) {
  for (uint32_t position : {0u, 1u, 4095u}) {
    const ChunkRead read = PlanChunkRead(65536, 4096, 0, position);
    EXPECT_EQ(read.Bytes(), 0u) << position;
    EXPECT_EQ(read.NextOffset, 0u);
  }
  const ChunkRead behind = PlanChunkRead(65536, 4096, 8192, 8192 + 4095);
  EXPECT_EQ(behind.Bytes(), 0u);
  EXPECT_EQ(behind.NextOffset, 8192u);
}

TEST(PlanChunkRead, UnwrappedRegionIsOnePieceEndingExactlyAtTheRingEnd) {
  const ChunkRead read = PlanChunkRead(65536, 4096, 49152, 0);  // up to the ring's end
  EXPECT_EQ(read.First.Offset, 49152u);
  EXPECT_EQ(read.First.Bytes, 16384u);
  EXPECT_EQ(read.Second.Bytes, 0u);
  EXPECT_EQ(read.NextOffset, 0u);
  const ChunkRead middle = PlanChunkRead(65536, 4096, 4096, 20000);
  EXPECT_EQ(middle.First.Bytes, 12288u);
  EXPECT_EQ(middle.NextOffset, 16384u);
}

TEST(BuildFormat, BlockIsWholeBytesPerChannel) {
  const PcmFormat cd = BuildFormat(44100, 16, 2);
  EXPECT_EQ(cd.FormatTag, 1);
  EXPECT_EQ(cd.Channels, 2);
  EXPECT_EQ(cd.BlockAlign, 4);
  EXPECT_EQ(cd.AvgBytesPerSec, 176400u);
  EXPECT_EQ(cd.BitsPerSample, 16);
  EXPECT_EQ(cd.ExtraSize, 0);
  const PcmFormat twelve = BuildFormat(8000, 12, 1);
  EXPECT_EQ(twelve.BlockAlign, 1);
  EXPECT_EQ(twelve.AvgBytesPerSec, 8000u);
  EXPECT_EQ(BuildFormat(48000, 12, 2).BlockAlign, 2);
}

// A producer writing a counting byte stream in odd-sized pieces and a reader on another thread
// must see whole chunks of the same stream: nothing lost, nothing twice, in order.
TEST(AudioRing, ReaderSeesTheProducersStreamInWholeChunks) {
  constexpr uint32_t kChunk = 96;
  constexpr size_t kTotal = kChunk * 2000;
  AudioRing ring(kChunk);
  EXPECT_EQ(ring.RingBytes(), kChunk * kRingChunks);
  std::vector<uint8_t> received;
  bool wholeChunks = true;
  std::thread reader([&] {
    while (received.size() < kTotal && ring.WaitForChunks()) {
      ring.ReadChunks([&](const uint8_t* data, uint32_t bytes) {
        wholeChunks = wholeChunks && bytes % kChunk == 0;
        received.insert(received.end(), data, data + bytes);
      });
    }
  });
  std::vector<uint8_t> stream(kTotal);
  for (size_t i = 0; i < kTotal; ++i) stream[i] = static_cast<uint8_t>(i * 7 + i / 251);
  size_t sent = 0;
  while (sent < kTotal) {
    const size_t piece = std::min<size_t>(kTotal - sent, 1 + sent % 301);
    sent += ring.Write(stream.data() + sent, piece);  // retries what did not fit
    if (sent % 7 == 0) std::this_thread::yield();
  }
  reader.join();  // ends by itself after the last chunk
  EXPECT_TRUE(wholeChunks);
  // Bytes that did not fit were retried, so the stream arrived complete.
  ASSERT_EQ(received.size(), kTotal);
  EXPECT_EQ(received, stream);
}

TEST(AudioRing, FullRingDropsNewSoundAndKeepsOld) {
  AudioRing ring(4);
  std::vector<uint8_t> bytes(100);
  std::iota(bytes.begin(), bytes.end(), 0);
  EXPECT_EQ(ring.Write(bytes.data(), bytes.size()), 63u);  // one byte short of the ring
  EXPECT_EQ(ring.DroppedBytes(), 37u);
  std::vector<uint8_t> got;
  ring.ReadChunks([&](const uint8_t* d, uint32_t n) { got.insert(got.end(), d, d + n); });
  ASSERT_EQ(got.size(), 60u);  // 15 whole chunks; the last 3 bytes wait
  EXPECT_EQ(got.front(), 0);
  EXPECT_EQ(got.back(), 59);
  ring.Write(nullptr, 1);  // silence completes the chunk
  got.clear();
  ring.ReadChunks([&](const uint8_t* d, uint32_t n) { got.insert(got.end(), d, d + n); });
  EXPECT_EQ(got, (std::vector<uint8_t>{60, 61, 62, 0}));
}

TEST(AudioRing, StopAndFailureWakeTheReader) {
  AudioRing ring(16);
  std::thread waiter([&] { EXPECT_FALSE(ring.WaitForChunks()); });
  ring.Fail();
  waiter.join();
  EXPECT_TRUE(ring.Failed());
  AudioRing other(16);
  other.RequestStop();
  EXPECT_FALSE(other.WaitForChunks());
}

}  // namespace
}  // namespace quillon
