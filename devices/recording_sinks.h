// For the device tests of every platform: sinks that keep what camera and sound capture hand
// them, and the measures of a recorded sine tone (16-bit stereo PCM).
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <numbers>
#include <vector>

#include "base/frame_sinks.h"

namespace quillon::testing {

class RecordingSink final : public AudioDataSink {
 public:
  void OnAudioData(const uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex_);
    pieces_.push_back(length);
    bytes_.insert(bytes_.end(), buffer, buffer + length);
    arrived_.notify_all();
  }
  bool WaitForBytes(size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= bytes; });
  }
  std::vector<int32_t> Pieces() {
    std::lock_guard lock(mutex_);
    return pieces_;
  }
  std::vector<uint8_t> Bytes() {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<int32_t> pieces_;
  std::vector<uint8_t> bytes_;
};

class FrameSink final : public VideoFrameSink {
 public:
  void OnVideoFrame(double sampleTime, const uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex_);
    times_.push_back(sampleTime);
    lengths_.push_back(length);
    last_.assign(buffer, buffer + length);
    arrived_.notify_all();
  }
  bool WaitForFrames(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return times_.size() >= count; });
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return times_.size();
  }
  std::vector<double> Times() {
    std::lock_guard lock(mutex_);
    return times_;
  }
  std::vector<int32_t> Lengths() {
    std::lock_guard lock(mutex_);
    return lengths_;
  }
  std::vector<uint8_t> Last() {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<double> times_;
  std::vector<int32_t> lengths_;
  std::vector<uint8_t> last_;
};

// What the left channel of a recording says about the tone in it.
struct ToneMeasure {
  size_t Samples = 0;
  double Hz = 0;    // from the rising zero crossings
  double Peak = 0;  // largest magnitude
  // Largest deviation from the sine recurrence x[n+1] = 2 cos(w) x[n] - x[n-1]: a lost or
  // repeated stretch anywhere shows as a large value.
  double WorstResidual = 0;
};

inline ToneMeasure MeasureTone(const std::vector<uint8_t>& stereo16, double sampleRate,
                               double toneHz) {
  std::vector<double> left;
  for (size_t i = 0; i + 3 < stereo16.size(); i += 4) {
    int16_t sample;
    std::memcpy(&sample, &stereo16[i], 2);
    left.push_back(sample);
  }
  ToneMeasure measure;
  measure.Samples = left.size();
  if (left.size() < 3) return measure;
  int crossings = 0;
  for (size_t i = 1; i < left.size(); ++i) {
    if (left[i - 1] < 0 && left[i] >= 0) ++crossings;
    measure.Peak = std::max(measure.Peak, std::abs(left[i]));
  }
  measure.Hz = crossings / (left.size() / sampleRate);
  const double twoCos = 2 * std::cos(2 * std::numbers::pi * toneHz / sampleRate);
  for (size_t n = 1; n + 1 < left.size(); ++n) {
    measure.WorstResidual =
        std::max(measure.WorstResidual, std::abs(left[n + 1] - twoCos * left[n] + left[n - 1]));
  }
  return measure;
}

}  // namespace quillon::testing
