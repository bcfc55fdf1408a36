#include "devices/grabber_callback.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

struct CountingSink final : VideoFrameSink {
  void OnVideoFrame(double time, const uint8_t*, int32_t length) override {
    times.push_back(time);
    lengths.push_back(length);
  }
  std::vector<double> times;
  std::vector<int32_t> lengths;
};

TEST(GrabberCallback, PassesFramesOnlyWhenEnabledAndRefusesNullBuffers) {
  GrabberCallback callback;
  CountingSink sink;
  const uint8_t frame[12] = {};
  callback.Sink = &sink;
  EXPECT_TRUE(callback.BufferCB(0.5, frame, 12));  // before SetFrameSink
  EXPECT_TRUE(sink.times.empty());
  callback.Enabled = 1;
  EXPECT_FALSE(callback.BufferCB(1.5, nullptr, 12));
  EXPECT_TRUE(callback.BufferCB(2.5, frame, 12));
  EXPECT_EQ(sink.times, std::vector<double>{2.5});
  EXPECT_EQ(sink.lengths, std::vector<int32_t>{12});
  callback.Sink = nullptr;
  EXPECT_TRUE(callback.BufferCB(3.5, frame, 12));
  EXPECT_EQ(&TheGrabberCallback(), &TheGrabberCallback());
}

}  // namespace
}  // namespace quillon
