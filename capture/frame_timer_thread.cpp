// FrameTimer on a thread of its own that sleeps to absolute deadlines on the steady clock.
#include <time.h>

#include <chrono>

#include "capture/frame_timer.h"

namespace quillon {

// The stop flag of one Start; each timer thread has its own, so a later Start never revives an
// earlier thread.
struct FrameTimer::Run {
  std::mutex Mutex;
  std::condition_variable Wake;
  bool Stopped = false;
};

namespace {

uint32_t SteadyClockResolutionMs() {
  timespec resolution{};
  if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) return 0;
  int64_t ns = int64_t{resolution.tv_sec} * 1000000000 + resolution.tv_nsec;
  int64_t ms = (ns + 999999) / 1000000;  // finer than a millisecond still counts as 1 ms
  return static_cast<uint32_t>(ms < 1 ? 1 : ms);
}

}  // namespace

FrameTimer::FrameTimer() : resolution_(SteadyClockResolutionMs()) {}

FrameTimer::~FrameTimer() {
  StopAndWait();
}

bool FrameTimer::Start(uint32_t periodMs, bool oneShot, bool firstTickAtOnce) {
  if (periodMs == 0) return false;
  StopAndWait();
  std::lock_guard<std::mutex> lock(mutex_);
  run_ = std::make_shared<Run>();
  thread_ = std::thread(&FrameTimer::Loop, this, run_, periodMs, oneShot, firstTickAtOnce);
  timerId_ = ++lastId_ == 0 ? ++lastId_ : lastId_;
  return true;
}

bool FrameTimer::Stop() {
  std::shared_ptr<Run> run;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timerId_ == 0) return false;
    timerId_ = 0;
    run = run_;
  }
  {
    std::lock_guard<std::mutex> lock(run->Mutex);
    run->Stopped = true;
  }
  run->Wake.notify_all();
  return true;
}

void FrameTimer::StopAndWait() {
  Stop();
  std::thread finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished = std::move(thread_);
  }
  if (!finished.joinable()) return;
  if (finished.get_id() == std::this_thread::get_id()) {
    finished.detach();  // called from inside OnTick: the loop ends by itself after the tick
  } else {
    finished.join();
  }
}

void FrameTimer::Loop(std::shared_ptr<Run> run, uint32_t periodMs, bool oneShot,
                      bool firstTickAtOnce) {
  using Clock = std::chrono::steady_clock;
  const Clock::duration period = std::chrono::milliseconds(periodMs);
  // A tick that overruns delays the next ones; once more than a second behind, the timer gives
  // up catching up and counts from now again instead of firing a burst.
  const Clock::duration maxBacklog = std::chrono::seconds(1) + period;
  Clock::time_point deadline = Clock::now() + (firstTickAtOnce ? Clock::duration{} : period);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(run->Mutex);
      run->Wake.wait_until(lock, deadline, [&] { return run->Stopped; });
      if (run->Stopped) return;
    }
    OnTick();
    if (oneShot) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (run_ == run) timerId_ = 0;
      return;
    }
    deadline += period;
    Clock::time_point now = Clock::now();
    if (now - deadline > maxBacklog) deadline = now + period;
  }
}

}  // namespace quillon
