// Paces a FrameTimer at 15 and 30 frames per second for 10 s each (both at once) and reports the
// tick count against the ideal and the deviation of each tick from its ideal time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "capture/frame_timer.h"

namespace {

using Clock = std::chrono::steady_clock;

class RecordingTimer final : public quillon::FrameTimer {
 public:
  ~RecordingTimer() override { StopAndWait(); }
  void OnTick() override { ticks.push_back(Clock::now()); }
  std::vector<Clock::time_point> ticks;  // only the timer thread writes while it runs
  Clock::time_point started;
  using FrameTimer::StopAndWait;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int rates[] = {15, 30};
  RecordingTimer timers[2];
  for (int i = 0; i < 2; ++i) {
    timers[i].ticks.reserve(1000);
    timers[i].started = Clock::now();
    timers[i].Start(1000 / rates[i], false);
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const Clock::time_point end = Clock::now();
  bool exact = true;
  for (int i = 0; i < 2; ++i) {
    RecordingTimer& t = timers[i];
    t.StopAndWait();
    const auto period = std::chrono::milliseconds(1000 / rates[i]);
    const long expected = static_cast<long>((end - t.started) / period);
    std::vector<double> deviation;
    for (size_t k = 0; k < t.ticks.size(); ++k) {
      auto ideal = t.started + period * static_cast<long>(k + 1);
      deviation.push_back(std::chrono::duration<double, std::milli>(t.ticks[k] - ideal).count());
    }
    std::vector<double> sorted = deviation;
    for (double& d : sorted) d = d < 0 ? -d : d;
    std::sort(sorted.begin(), sorted.end());
    auto percentile = [&](double p) {
      return sorted.empty()
                 ? 0.0
                 : sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
    };
    const long count = static_cast<long>(t.ticks.size());
    const bool within = count >= expected - 1 && count <= expected + 1;
    exact = exact && within;
    std::printf(
        "%2d fps (period %lld ms) over %.1f s: %ld ticks, ideal %ld (%s); deviation from the "
        "ideal tick time: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        rates[i], static_cast<long long>(period.count()), seconds, count, expected,
        within ? "exact within one" : "OFF", percentile(0.5), percentile(0.99), percentile(1.0));
  }
  return exact ? 0 : 1;
}
