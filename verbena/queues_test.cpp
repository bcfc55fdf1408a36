#include "verbena/queues.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

namespace verbena {
namespace {

TEST(PictureQueue, RefusesWrongLengthsAndDropsTheOldestWhenFull) {
  Wakeup wakeup;
  PictureQueue queue(12, 2, &wakeup);
  std::vector<uint8_t> bytes(13);
  for (size_t length : {11, 13}) EXPECT_FALSE(queue.Push(bytes.data(), length, 0));
  EXPECT_FALSE(queue.Push(nullptr, 12, 0));
  for (uint8_t i = 1; i <= 4; ++i)
    EXPECT_TRUE(queue.Push(std::vector<uint8_t>(12, i).data(), 12, i * 100));
  EXPECT_EQ(queue.Dropped(), 2u);
  EXPECT_EQ(queue.OldestArrival(), 300);
  Picture* third = queue.Pop();
  Picture* fourth = queue.Pop();
  ASSERT_TRUE(third != nullptr && fourth != nullptr);
  EXPECT_EQ(third->bytes[11], 3);
  EXPECT_EQ(fourth->arrivalUs, 400);
  EXPECT_EQ(queue.Pop(), nullptr);
  queue.Release(third);
  queue.Release(fourth);
  EXPECT_EQ(queue.OldestArrival(), -1);
}

// The sanitizers' allocators write their own records over the memory they hand out.
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Resident memory of this process, from /proc/self/statm.
size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(PictureQueue, MakingTheBuffersWritesNoneOfThem) {
  // A start must not wait for the queue's 1920x1080 buffers to be filled with zeros: a queue of
  // 32 MB pictures costs next to nothing until pictures are put into it.
  constexpr size_t kPicture = 32u << 20;
  const size_t before = ResidentBytes();
  Wakeup wakeup;
  PictureQueue queue(kPicture, 4, &wakeup);
  EXPECT_LT(ResidentBytes() - before, kPicture / 4);
  std::vector<uint8_t> picture(kPicture, 7);
  ASSERT_TRUE(queue.Push(picture.data(), picture.size(), 1));
  Picture* taken = queue.Pop();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->bytes[kPicture - 1], 7);
  queue.Release(taken);
}
#endif

TEST(PictureQueue, ConcurrentCallersNeverLoseAPictureUnaccounted) {
  Wakeup wakeup;
  PictureQueue queue(4096, 4, &wakeup);
  std::atomic<bool> done{false};
  std::atomic<uint64_t> taken{0};
  std::thread consumer([&] {
    while (!done || queue.Waiting() > 0) {
      if (Picture* picture = queue.Pop()) {
        // Every byte of a picture comes from one caller: no torn copies.
        const uint8_t* bytes = picture->bytes.get();
        ASSERT_EQ(std::count(bytes, bytes + 4096, bytes[0]), 4096);
        ++taken;
        queue.Release(picture);
      } else {
        wakeup.Wait(1);
      }
    }
  });
  auto produce = [&](uint8_t value) {
    std::vector<uint8_t> picture(4096, value);
    for (int i = 0; i < 2000; ++i) queue.Push(picture.data(), picture.size(), i);
  };
  std::thread timer(produce, 1), camera(produce, 2);
  timer.join();
  camera.join();
  done = true;
  wakeup.Notify();
  consumer.join();
  EXPECT_EQ(taken + queue.Dropped(), 4000u);
}

TEST(SoundQueue, KeepsEverySampleInOrderAndDropsOnlyPastItsLimit) {
  Wakeup wakeup;
  // 16-bit stereo at 1000 sample frames a second: 4000 bytes a second, chunks of 16 bytes, at
  // most 300 chunks, 252 of them (a second and two) made up front.
  SoundQueue queue(16, 4, 4000, 16 * 300, &wakeup);
  std::vector<uint8_t> pcm(40);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i);
  EXPECT_FALSE(queue.Push(pcm.data(), 6, 0));  // not whole sample frames
  EXPECT_FALSE(queue.Push(pcm.data(), 0, 0));
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
  // The encoder falls behind: the queue grows to its limit, then drops the oldest chunk.
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(queue.Push(pcm.data(), 16, i));
  EXPECT_EQ(queue.DroppedBytes(), 0u);
  EXPECT_TRUE(queue.Push(pcm.data(), 16, 300));
  EXPECT_EQ(queue.DroppedBytes(), 16u);
  EXPECT_EQ(queue.OldestArrival(), 1);
}

}  // namespace
}  // namespace verbena
