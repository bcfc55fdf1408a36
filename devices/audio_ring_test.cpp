#include "devices/audio_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

TEST(PlanChunkRead, HandsOnWholeChunksTailFirstAndLetsAPartialChunkWait) {
  // A ring of 16 x 4096 bytes: what is ready from next to position.
  struct Case {
    uint32_t next, position, firstBytes, secondBytes, nextOffset;
  };
  const Case cases[] = {
      {61440, 4100, 4096, 4096, 4096},  // wrapped: 8196 bytes ready, 8192 in whole chunks
      {49152, 0, 16384, 0, 0},          // up to the ring's end exactly
      {4096, 20000, 12288, 0, 16384},   // in the middle
      {0, 0, 0, 0, 0},                  // nothing
      {0, 1, 0, 0, 0},                  // a partial chunk waits
      {0, 4095, 0, 0, 0},
      {8192, 8192 + 4095, 0, 0, 8192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.next) + " to " + std::to_string(c.position));
    const ChunkRead read = PlanChunkRead(65536, 4096, c.next, c.position);
    EXPECT_EQ(read.First.Bytes, c.firstBytes);
    EXPECT_TRUE(read.First.Bytes == 0 || read.First.Offset == c.next) << read.First.Offset;
    EXPECT_EQ(read.Second.Bytes, c.secondBytes);
    EXPECT_TRUE(read.Second.Bytes == 0 || read.Second.Offset == 0) << "not at the ring's head";
    EXPECT_EQ(read.NextOffset, c.nextOffset);
  }
}

TEST(BuildFormat, BlockIsWholeBytesPerChannel) {
  const PcmFormat cd = BuildFormat(44100, 16, 2);
  EXPECT_EQ(std::tuple(cd.FormatTag, cd.Channels, cd.SamplesPerSec, cd.AvgBytesPerSec,
                       cd.BlockAlign, cd.BitsPerSample, cd.ExtraSize),
            std::tuple(1, 2, 44100u, 176400u, 4, 16, 0));
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
