#include "devices/grabber_callback.h"

#include <gtest/gtest.h>

#include <vector>

#include "devices/testing/recording_sinks.h"

namespace quillon {
namespace {

TEST(GrabberCallback, PassesFramesOnlyWhenEnabledAndRefusesNullBuffers) {
  GrabberCallback callback;
  testing::Recorder sink;
  const uint8_t frame[12] = {};
  callback.Sink = &sink;
  EXPECT_TRUE(callback.BufferCB(0.5, frame, 12));  // before SetFrameSink
  EXPECT_TRUE(sink.Times().empty());
  callback.Enabled = 1;
  EXPECT_FALSE(callback.BufferCB(1.5, nullptr, 12));
  EXPECT_TRUE(callback.BufferCB(2.5, frame, 12));
  EXPECT_EQ(sink.Times(), std::vector<double>{2.5});
  EXPECT_EQ(sink.Lengths(), std::vector<int32_t>{12});
  callback.Sink = nullptr;
  EXPECT_TRUE(callback.BufferCB(3.5, frame, 12));
  EXPECT_EQ(&TheGrabberCallback(), &TheGrabberCallback());
}

}  // namespace
}  // namespace quillon
