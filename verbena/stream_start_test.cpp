#include "verbena/stream_start.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

bool Admit(StreamStart& start, bool video, bool key, int64_t ms, int64_t* out) {
  int64_t pts = ms;
  *out = ms;
  return start.Admit(video, key, out, &pts);
}

TEST(StreamStart, PicturesWaitForAKeyframeAndTheFirstPacketIsTimeZero) {
  StreamStart start;
  int64_t ms = 0;
  EXPECT_FALSE(Admit(start, true, false, 5000, &ms));  // a reconnect lands mid-GOP
  EXPECT_TRUE(Admit(start, false, false, 5010, &ms));
  EXPECT_EQ(ms, 0);
  EXPECT_TRUE(Admit(start, true, true, 5066, &ms));
  EXPECT_EQ(ms, 56);
  EXPECT_TRUE(Admit(start, true, false, 5132, &ms));
  EXPECT_EQ(ms, 122);
  EXPECT_TRUE(Admit(start, false, false, 5005, &ms));  // earlier than zero: held at zero
  EXPECT_EQ(ms, 0);
}

}  // namespace
}  // namespace verbena
