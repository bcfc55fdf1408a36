// Waiting in tests for work that other threads do.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace quillon {

// Polls done() until it holds (true) or limit has passed (false). Between polls it runs between(),
// or sleeps a millisecond without one: a test of a Qt window passes one that runs the event loop.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(10),
                    const std::function<void()>& between = {}) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (between) {
      between();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

}  // namespace quillon
