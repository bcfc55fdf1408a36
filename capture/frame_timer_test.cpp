#include "capture/frame_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "base/testing/wait_for.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;

// Counts its ticks and notes their thread; duringTick, when set, runs inside each tick before it
// is counted.
class CountingTimer final : public FrameTimer {
 public:
  ~CountingTimer() override { StopAndWait(); }
  void OnTick() override {
    tickThread = std::this_thread::get_id();
    if (duringTick) duringTick();
    ++ticks;
  }
  using FrameTimer::StopAndWait;

  std::atomic<int> ticks{0};
  std::atomic<std::thread::id> tickThread{};
  std::function<void()> duringTick;
};

TEST(FrameTimerTest, TicksOnAnotherThreadFromOnePeriodOnUntilStoppedStartsAgainAndOnce) {
  CountingTimer timer;
  EXPECT_GE(timer.Resolution(), 1u);
  EXPECT_FALSE(timer.Stop());           // nothing runs yet
  EXPECT_FALSE(timer.Start(0, false));  // a zero period is refused
  ASSERT_TRUE(timer.Start(1000, false));
  EXPECT_TRUE(timer.Stop());
  EXPECT_FALSE(timer.Stop());
  EXPECT_EQ(timer.ticks, 0);  // no tick before the first period has passed

  EXPECT_EQ(timer.TimerId(), 0u);
  ASSERT_TRUE(timer.Start(5, false));
  const uint32_t first = timer.TimerId();
  EXPECT_NE(first, 0u);
  ASSERT_TRUE(WaitFor([&] { return timer.ticks >= 3; }));
  EXPECT_NE(timer.tickThread.load(), std::this_thread::get_id());
  EXPECT_TRUE(timer.Stop());
  EXPECT_EQ(timer.TimerId(), 0u);
  const int before = timer.ticks;
  ASSERT_TRUE(timer.Start(5, false));
  EXPECT_NE(timer.TimerId(), first);
  ASSERT_TRUE(WaitFor([&] { return timer.ticks >= before + 2; }));
  timer.StopAndWait();
  const int after = timer.ticks;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(timer.ticks, after);
  // A one-shot timer ticks once and ends by itself.
  ASSERT_TRUE(timer.Start(2, true));
  ASSERT_TRUE(WaitFor([&] { return timer.TimerId() == 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(timer.ticks, after + 1);
  EXPECT_FALSE(timer.Stop());
}

TEST(FrameTimerTest, TicksComeAtThePeriod) {
  // N ticks take about N periods, the first after one. The bounds are wide: the machine may be
  // busy, and only a period mistaken for another unit, a tick at once or a timer firing in bursts
  // falls outside them.
  using Clock = std::chrono::steady_clock;
  constexpr int kTicks = 20;
  constexpr auto kPeriod = 10ms;
  CountingTimer timer;
  Clock::time_point firstTick;
  timer.duringTick = [&] {
    if (timer.ticks == 0) firstTick = Clock::now();
  };
  const auto start = Clock::now();
  ASSERT_TRUE(timer.Start(static_cast<uint32_t>(kPeriod.count()), false));
  ASSERT_TRUE(WaitFor([&] { return timer.ticks >= kTicks; }, 20s));
  const auto elapsed = Clock::now() - start;
  timer.StopAndWait();
  EXPECT_GE(firstTick - start, kPeriod / 2);
  EXPECT_GE(elapsed, kTicks * kPeriod / 2);
  EXPECT_LT(elapsed, kTicks * kPeriod * 50);
}

TEST(FrameTimerTest, AFirstTickAtOnceComesWithoutWaitingForThePeriod) {
  // A period of a minute (Windows' multimedia timers take at most 65535 ms): any tick this test
  // sees is one that came at once.
  constexpr uint32_t kLong = 60000;
  CountingTimer timer;
  ASSERT_TRUE(timer.Start(kLong, false, true));
  ASSERT_TRUE(WaitFor([&] { return timer.ticks == 1; }));
  EXPECT_NE(timer.tickThread.load(), std::this_thread::get_id());
  EXPECT_NE(timer.TimerId(), 0u);  // still running, for the ticks to come
  EXPECT_TRUE(timer.Stop());
  timer.StopAndWait();
  EXPECT_EQ(timer.ticks, 1);
  // A one-shot timer's only tick comes at once, and the timer then ends by itself.
  ASSERT_TRUE(timer.Start(kLong, true, true));
  ASSERT_TRUE(WaitFor([&] { return timer.TimerId() == 0; }));
  EXPECT_EQ(timer.ticks, 2);
}

TEST(FrameTimerTest, StopDoesNotWaitForATickInProgressButStopAndWaitDoesEvenFromAnotherTick) {
  CountingTimer timer;
  std::promise<void> entered;
  std::promise<void> release;
  timer.duringTick = [&] {
    entered.set_value();
    release.get_future().wait();
  };
  ASSERT_TRUE(timer.Start(1, false));
  ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(timer.Stop());  // returns although the tick still runs

  std::atomic<bool> waited{false};
  std::thread waiter([&] {
    timer.StopAndWait();
    waited = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(waited);
  release.set_value();
  waiter.join();
  EXPECT_TRUE(waited);
  EXPECT_EQ(timer.ticks, 1);

  // One timer's tick may end another.
  CountingTimer other;
  ASSERT_TRUE(other.Start(2, false));
  ASSERT_TRUE(WaitFor([&] { return other.ticks >= 1; }));
  CountingTimer ending;
  ending.duringTick = [&] { other.StopAndWait(); };
  ASSERT_TRUE(ending.Start(2, true));
  ASSERT_TRUE(WaitFor([&] { return ending.ticks == 1; }));
  EXPECT_EQ(other.TimerId(), 0u);
  int after = other.ticks;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(other.ticks, after);
}

}  // namespace
}  // namespace quillon
