#include "devices/pulse_connection.h"

#include <pulse/rtclock.h>

namespace quillon {
namespace {

void SignalLoop(pa_context*, void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void WakeAtDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* loop) {
  pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

}  // namespace

PulseConnection::~PulseConnection() {
  Disconnect();
}

bool PulseConnection::Connect(std::chrono::milliseconds timeout) {
  Disconnect();
  loop_ = pa_threaded_mainloop_new();
  if (loop_ == nullptr) return false;
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quillon Publisher");
  if (context_ == nullptr || pa_threaded_mainloop_start(loop_) < 0) {
    Disconnect();
    return false;
  }
  bool ready = false;
  {
    Lock lock(*this);
    pa_context_set_state_callback(context_, SignalLoop, loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
      WaitUntil(
          [this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
          },
          timeout);
      ready = pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
  }
  if (!ready) Disconnect();
  return ready;
}

void PulseConnection::Disconnect() {
  if (context_ != nullptr) {
    {
      Lock lock(*this);
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
  }
  if (loop_ != nullptr) {
    // The loop thread must not touch the context any more when it is freed.
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) pa_context_unref(context_);
    context_ = nullptr;
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

bool PulseConnection::ContextReady() const {
  return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseConnection::WaitUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
  if (done()) return true;
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
  const pa_usec_t deadline = pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000;
  // Wakes the wait below at the deadline, also when nothing else happens.
  pa_time_event* wake = pa_context_rttime_new(context_, deadline, WakeAtDeadline, loop_);
  bool met = false;
  while (!(met = done()) && pa_rtclock_now() < deadline) pa_threaded_mainloop_wait(loop_);
  if (wake != nullptr) api->time_free(wake);
  return met;
}

bool PulseConnection::Complete(pa_operation* operation, std::chrono::milliseconds timeout) {
  if (operation == nullptr) return false;
  const bool done = WaitUntil(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
  if (!done) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}

}  // namespace quillon
