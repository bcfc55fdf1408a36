// A connection to the PulseAudio server on a threaded main loop of its own. The server is never
// started on our behalf, and every wait is bounded, so a missing or stuck server costs at most
// the timeout, never a hang.
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

namespace quillon {

class PulseConnection {
 public:
  PulseConnection() = default;
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connects to the default server (PULSE_SERVER when set). false when there is none, it refuses,
  // or it does not answer within timeout.
  bool Connect(std::chrono::milliseconds timeout);
  // Disconnects and stops the loop; harmless when not connected.
  void Disconnect();

  bool Connected() const { return context_ != nullptr; }
  pa_threaded_mainloop* Loop() const { return loop_; }
  pa_context* Context() const { return context_; }
  bool ContextReady() const;

  // Holds the loop's lock for the caller's scope; loop callbacks run under it.
  class Lock {
   public:
    explicit Lock(const PulseConnection& connection) : loop_(connection.loop_) {
      pa_threaded_mainloop_lock(loop_);
    }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // With the lock held: waits until done() holds (true) or timeout passes (false). Callbacks that
  // change what done() looks at must call Signal().
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void Signal() const { pa_threaded_mainloop_signal(loop_, 0); }

  // With the lock held: runs a query started by start(context, callback, userdata) until its
  // operation completes; false on a timeout or a failed start.
  bool Complete(pa_operation* operation, std::chrono::milliseconds timeout);

 private:
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

}  // namespace quillon
