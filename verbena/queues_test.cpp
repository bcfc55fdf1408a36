#include "verbena/queues.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace verbena {
namespace {

std::vector<uint8_t> Filled(size_t bytes, uint8_t value) {
  return std::vector<uint8_t>(bytes, value);
}

TEST(PictureQueue, RefusesWrongLengthsAndDropsTheOldestWhenFull) {
  Wakeup wakeup;
  PictureQueue queue(12, 2, &wakeup);
  EXPECT_FALSE(queue.Push(Filled(11, 0).data(), 11, 0));
  EXPECT_FALSE(queue.Push(nullptr, 12, 0));
  for (uint8_t i = 1; i <= 4; ++i) EXPECT_TRUE(queue.Push(Filled(12, i).data(), 12, i * 100));
  EXPECT_EQ(queue.Dropped(), 2u);
  EXPECT_EQ(queue.OldestArrival(), 300);
  Picture* third = queue.Pop();
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->bytes[11], 3);
  Picture* fourth = queue.Pop();
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(fourth->arrivalUs, 400);
  EXPECT_EQ(queue.Pop(), nullptr);
  queue.Release(third);
  queue.Release(fourth);
  EXPECT_EQ(queue.OldestArrival(), -1);
}

TEST(PictureQueue, ConcurrentCallersNeverLoseAPictureUnaccounted) {
  Wakeup wakeup;
  PictureQueue queue(4096, 4, &wakeup);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> taken{0};
  std::thread consumer([&] {
    while (!done || queue.Waiting() > 0) {
      if (Picture* picture = queue.Pop()) {
        // Every byte of a picture comes from one caller: no torn copies.
        uint8_t first = picture->bytes[0];
        for (uint8_t byte : picture->bytes) ASSERT_EQ(byte, first);
        ++taken;
        queue.Release(picture);
      } else {
        wakeup.Wait(1);
      }
    }
  });
  auto produce = [&](uint8_t value) {
    std::vector<uint8_t> picture = Filled(4096, value);
    for (int i = 0; i < 2000; ++i) queue.Push(picture.data(), picture.size(), i);
  };
  std::thread timer(produce, 1);
  std::thread camera(produce, 2);
  timer.join();
  camera.join();
  done = true;
  wakeup.Notify();
  consumer.join();
  EXPECT_EQ(taken + queue.Dropped(), 4000u);
}

TEST(SoundQueue, KeepsEverySampleInOrderAndSplitsLargePieces) {
  Wakeup wakeup;
  // 16-bit stereo at 1000 sample frames a second: 4000 bytes a second, chunks of 16 bytes.
  SoundQueue queue(16, 4, 4000, 4000 * 60, &wakeup);
  EXPECT_FALSE(queue.Push(Filled(6, 0).data(), 6, 0));  // not whole sample frames
  EXPECT_FALSE(queue.Push(Filled(4, 0).data(), 0, 0));
  std::vector<uint8_t> pcm(40);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(queue.Push(pcm.data(), pcm.size(), 1000000));
  std::vector<uint8_t> out;
  std::vector<int64_t> ends;
  while (SoundChunk* chunk = queue.Pop()) {
    out.insert(out.end(), chunk->bytes.begin(), chunk->bytes.end());
    ends.push_back(chunk->endUs);
    queue.Release(chunk);
  }
  EXPECT_EQ(out, pcm);
  // 16 + 16 + 8 bytes: the last chunk ends at the arrival, the others 2 ms and 6 ms before it.
  EXPECT_EQ(ends, (std::vector<int64_t>{994000, 998000, 1000000}));
  EXPECT_EQ(queue.Blocks(), 3u);
}

TEST(SoundQueue, GrowsInsteadOfDroppingUntilTheLimit) {
  Wakeup wakeup;
  SoundQueue queue(16, 4, 4000, 64, &wakeup);  // room for four chunks only
  std::vector<uint8_t> chunk = Filled(16, 7);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(queue.Push(chunk.data(), chunk.size(), i));
  EXPECT_EQ(queue.DroppedBytes(), 0u);
  EXPECT_TRUE(queue.Push(chunk.data(), chunk.size(), 4));
  EXPECT_EQ(queue.DroppedBytes(), 16u);
  EXPECT_EQ(queue.OldestArrival(), 1);
}

}  // namespace
}  // namespace verbena
