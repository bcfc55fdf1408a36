// FrameTimer on the system's multimedia timer: the finest resolution the system offers is held
// for the timer's whole life, and the system's timer thread calls OnTick.
#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>

#include <atomic>

#include "capture/frame_timer.h"

namespace quillon {

void RunFrameTimerTick(FrameTimer* timer, uint32_t timerId) {
  timer->Tick(timerId);
}

namespace {

// The system's timer thread, which calls every multimedia timer of the process one after another;
// 0 until the first tick.
std::atomic<DWORD>& SystemTimerThread() {
  static std::atomic<DWORD> thread{0};
  return thread;
}

void CALLBACK TimerProc(UINT timerId, UINT /*message*/, DWORD_PTR user, DWORD_PTR /*reserved1*/,
                        DWORD_PTR /*reserved2*/) {
  SystemTimerThread().store(GetCurrentThreadId(), std::memory_order_relaxed);
  RunFrameTimerTick(reinterpret_cast<FrameTimer*>(user), timerId);
}

}  // namespace

FrameTimer::FrameTimer() {
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return;
  // The finest period the system offers.
  resolution_ = caps.wPeriodMin <= caps.wPeriodMax ? caps.wPeriodMin : caps.wPeriodMax;
  timeBeginPeriod(resolution_);
}

FrameTimer::~FrameTimer() {
  StopAndWait();
  if (resolution_ != 0) {
    timeEndPeriod(resolution_);
    resolution_ = 0;
  }
}

bool FrameTimer::Start(uint32_t periodMs, bool oneShot, bool firstTickAtOnce) {
  if (periodMs == 0) return false;
  // A timer still running would go on calling OnTick unowned: end it first.
  StopAndWait();
  // Held across timeSetEvent, so a first tick that comes at once waits until the id is known.
  std::lock_guard<std::mutex> lock(mutex_);
  const DWORD_PTR user = reinterpret_cast<DWORD_PTR>(this);
  // The system's timers fire a period after they are set at the earliest: a first tick at once
  // is a one-shot timer of the shortest delay beside the periodic one.
  const MMRESULT id = timeSetEvent(oneShot && firstTickAtOnce ? 1 : periodMs, resolution_,
                                   TimerProc, user, oneShot ? TIME_ONESHOT : TIME_PERIODIC);
  if (id == 0) return false;
  timerId_ = id;
  oneShot_ = oneShot;
  started_ = true;
  if (firstTickAtOnce && !oneShot)
    firstTickId_ = timeSetEvent(1, resolution_, TimerProc, user, TIME_ONESHOT);
  return true;
}

bool FrameTimer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (timerId_ == 0) return false;
  if (firstTickId_ != 0) {
    timeKillEvent(firstTickId_);  // fails harmlessly when it has fired already
    firstTickId_ = 0;
  }
  if (timeKillEvent(timerId_) != TIMERR_NOERROR) return false;
  timerId_ = 0;
  return true;
}

void FrameTimer::Tick(uint32_t timerId) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A tick of a timer that was stopped meanwhile, or of an earlier one, is dropped.
    if (timerId == 0) return;
    if (timerId == firstTickId_) {
      firstTickId_ = 0;  // a one-shot timer: the system ends it after this call
    } else if (timerId != timerId_) {
      return;
    }
    ++ticksInProgress_;
    tickThread_ = GetCurrentThreadId();
  }
  OnTick();
  std::lock_guard<std::mutex> lock(mutex_);
  // The system ends a one-shot timer by itself after its tick.
  if (oneShot_ && timerId_ == timerId) timerId_ = 0;
  if (--ticksInProgress_ == 0) idle_.notify_all();
}

void FrameTimer::StopAndWait() {
  Stop();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // Called from inside OnTick: that tick is the one in progress and ends after this returns.
    if (ticksInProgress_ > 0 && tickThread_ == GetCurrentThreadId()) return;
    idle_.wait(lock, [this] { return ticksInProgress_ == 0; });
    if (!started_) return;
    started_ = false;
  }
  // On the timer thread itself (another timer's OnTick ends this one) the stopped timer's
  // expiries cannot be under way, and a fence could not fire before this tick returns.
  if (GetCurrentThreadId() == SystemTimerThread().load(std::memory_order_relaxed)) return;
  WaitForTimerThread();
}

void FrameTimer::WaitForTimerThread() {
  // The system may have taken the stopped timer's expiry already and be about to call TimerProc
  // with this object. Its timer thread handles expiries one after another, so once a one-shot
  // timer set after the stop has fired, no call of the stopped one can still come.
  HANDLE fired = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (fired == nullptr) return;
  const MMRESULT fence = timeSetEvent(1, 0, reinterpret_cast<LPTIMECALLBACK>(fired), 0,
                                      TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
  if (fence != 0) WaitForSingleObject(fired, INFINITE);
  CloseHandle(fired);
}

}  // namespace quillon
