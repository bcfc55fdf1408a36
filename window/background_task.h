// One piece of work on a thread of its own, whose end the window's thread hears of: the window
// keeps painting while a class connects.
#pragma once

#include <functional>
#include <thread>
#include <utility>

namespace quillon {

class BackgroundTask {
 public:
  BackgroundTask() = default;
  ~BackgroundTask() {
    if (thread_.joinable()) thread_.join();
  }
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Runs work on a thread of its own; when it ends, that thread calls post, which makes the
  // window's thread call Finish. A task still running is finished first.
  void Run(std::function<bool()> work, std::function<void(bool)> done, std::function<void()> post) {
    Finish();
    done_ = std::move(done);
    thread_ = std::thread([this, work = std::move(work), post = std::move(post)] {
      result_ = work();
      post();
    });
  }
  // On the window's thread: waits for the work and runs its done, once; nothing when none runs.
  void Finish() {
    if (!thread_.joinable()) return;
    thread_.join();
    std::function<void(bool)> done = std::exchange(done_, nullptr);
    if (done) done(result_);
  }

 private:
  std::thread thread_;
  bool result_ = false;  // written by the thread, read after joining it
  std::function<void(bool)> done_;
};

}  // namespace quillon
