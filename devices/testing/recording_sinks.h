// For the device tests of every platform: sinks that keep what camera and sound capture hand
// them and the messages meant for the user, the measures of a recorded sine tone (16-bit stereo
// PCM), and the checks every sound backend must pass.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "base/frame_sinks.h"
#include "devices/capture_audio.h"
#include "devices/device_messages.h"

namespace quillon::testing {

// Collects the messages meant for the user while it exists; capture threads may add to it.
class MessageLog final : public UserMessages {
 public:
  void Show(const std::string& text) override {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  ScopedUserMessages installed_{*this};
};

// Keeps what a camera or sound capture hands it: each piece's length (and a frame's time), and
// the bytes: all of the sound, or the last frame.
class Recorder final : public AudioDataSink, public VideoFrameSink {
 public:
  void OnAudioData(const uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex_);
    lengths_.push_back(length);
    bytes_.insert(bytes_.end(), buffer, buffer + length);
    arrived_.notify_all();
  }
  void OnVideoFrame(double sampleTime, const uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex_);
    times_.push_back(sampleTime);
    lengths_.push_back(length);
    bytes_.assign(buffer, buffer + length);
    arrived_.notify_all();
  }
  bool WaitForPieces(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return lengths_.size() >= count; });
  }
  bool WaitForBytes(size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return bytes_.size() >= bytes; });
  }
  std::vector<int32_t> Lengths() { return Copy(lengths_); }
  std::vector<double> Times() { return Copy(times_); }
  std::vector<uint8_t> Bytes() { return Copy(bytes_); }

 private:
  template <typename T>
  T Copy(const T& kept) {
    std::lock_guard lock(mutex_);
    return kept;
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<int32_t> lengths_;
  std::vector<double> times_;
  std::vector<uint8_t> bytes_;
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

constexpr int32_t kCdRate = 44100;
constexpr uint32_t kCdSecondBytes = kCdRate * 4;  // 16-bit stereo

// A sound capture object set as the capture session sets it: 44.1 kHz stereo at bitsPerSample.
inline std::unique_ptr<CCaptureAudio> CdCapture(int32_t bitsPerSample = 16) {
  auto capture = CreateCaptureAudio();
  capture->SamplesPerSec = kCdRate;
  capture->BitsPerSample = bitsPerSample;
  capture->Chanels = 2;
  return capture;
}

// Records a second from capture (opened on a device that hears a steady tone of toneHz) in chunks
// of 4096 bytes, about 23 ms, and closes it. Checks that an Open of reopen while it records
// changes nothing, that nothing arrives after the stop, that every piece handed on is whole
// chunks, and that the last three quarters of a second (the first moments may be silence while
// the device starts) hold the tone without a gap or a repeat.
inline void ExpectTheToneInWholeChunks(CCaptureAudio& capture, const AudioDeviceId* reopen,
                                       double toneHz) {
  constexpr uint32_t kChunk = 4096;
  Recorder sink;
  capture.ChunkBytes = kChunk;
  ASSERT_EQ(capture.SetRecording(true, &sink), 0);
  EXPECT_TRUE(capture.Open(reopen));  // a recording object is left as it is
  EXPECT_TRUE(sink.WaitForBytes(kCdSecondBytes, std::chrono::seconds(5)));
  EXPECT_EQ(capture.SetRecording(false, &sink), 0);
  const size_t pieces = sink.Lengths().size();
  capture.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sink.Lengths().size(), pieces) << "sound after the stop";

  for (int32_t piece : sink.Lengths()) {
    ASSERT_GT(piece, 0);
    ASSERT_EQ(piece % kChunk, 0u) << "a piece that is not whole chunks";
  }
  std::vector<uint8_t> bytes = sink.Bytes();
  ASSERT_GE(bytes.size(), kCdSecondBytes);
  bytes.erase(bytes.begin(), bytes.end() - kCdSecondBytes * 3 / 4);
  const ToneMeasure tone = MeasureTone(bytes, kCdRate, toneHz);
  EXPECT_NEAR(tone.Hz, toneHz, 10);
  ASSERT_GT(tone.Peak, 1000);
  EXPECT_LT(tone.WorstResidual, 0.02 * tone.Peak + 4) << "a gap or a repeat in the recorded sound";
}

// Stops a recording in chunks of a whole second 300 ms after it began: a worker that waited for
// its next chunk would hold the stop for up to a second. Nothing is handed on: no chunk was whole.
inline void ExpectTheStopToEndTheWorkerAtOnce(CCaptureAudio& capture) {
  using Clock = std::chrono::steady_clock;
  Recorder sink;
  capture.ChunkBytes = kCdSecondBytes;
  ASSERT_EQ(capture.SetRecording(true, &sink), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto before = Clock::now();
  EXPECT_EQ(capture.SetRecording(false, &sink), 0);
  EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(500));
  capture.Close();
  EXPECT_TRUE(sink.Lengths().empty());
}

}  // namespace quillon::testing
