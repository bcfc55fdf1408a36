// FrameTimer turns a periodic (or one-shot) timer into calls of OnTick on a thread other than the
// caller's: a thread of its own on Linux, the system's multimedia timer thread on Windows.
// FrameLock is the mutex that guards the frame buffers shared with the camera thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon {

class FrameTimer {
 public:
  FrameTimer();
  virtual ~FrameTimer();
  FrameTimer(const FrameTimer&) = delete;
  FrameTimer& operator=(const FrameTimer&) = delete;

  // Calls OnTick every periodMs milliseconds (once when oneShot), on a thread other than the
  // caller's, at absolute deadlines from now: N ticks take N periods. With firstTickAtOnce the
  // first tick comes straight away instead of after one period, and the later ones at the same
  // deadlines as without it. true when it runs; a running timer is stopped first.
  bool Start(uint32_t periodMs, bool oneShot, bool firstTickAtOnce = false);
  // Ends the timer. Does not wait for a tick in progress: one may still run, or be about to
  // begin, when Stop returns. false when no timer was running.
  bool Stop();

  virtual void OnTick() = 0;

  // The timer's granularity in milliseconds (the deadlines are kept to within it); 0 if unknown.
  uint32_t Resolution() const { return resolution_; }
  // Non-zero while a timer runs.
  uint32_t TimerId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timerId_;
  }

 protected:
  // Stops the timer and waits until no tick is in progress or can still begin. The owner's
  // destructor calls it before it frees anything a tick touches.
  void StopAndWait();

 private:
  uint32_t resolution_ = 0;
  mutable std::mutex mutex_;
  uint32_t timerId_ = 0;
#if defined(_WIN32)
  // The system's multimedia timer calls OnTick through this.
  friend void RunFrameTimerTick(FrameTimer* timer, uint32_t timerId);
  void Tick(uint32_t timerId);
  // Returns once the system's timer thread can no longer be about to call a stopped timer.
  void WaitForTimerThread();

  std::condition_variable idle_;
  bool oneShot_ = false;
  int ticksInProgress_ = 0;
  unsigned long tickThread_ = 0;  // the system thread of the tick in progress
  bool started_ = false;          // a timer ran since the last WaitForTimerThread
  uint32_t firstTickId_ = 0;      // the one-shot system timer of a first tick at once
#else
  struct Run;
  void Loop(std::shared_ptr<Run> run, uint32_t periodMs, bool oneShot, bool firstTickAtOnce);

  uint32_t lastId_ = 0;
  std::shared_ptr<Run> run_;
  std::thread thread_;
#endif
};

// The frame lock: an ordinary mutex (BasicLockable, so std::lock_guard works with it).
class FrameLock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace quillon
