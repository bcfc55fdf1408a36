#include "verbena/stream_start.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

bool Admit(StreamStart& start, bool video, bool key, int64_t ms, int64_t* out) {
  int64_t pts = ms;
  *out = ms;
  return start.Admit(video, key, out, &pts);
}

TEST(StreamStart, TheFirstKeyframeIsTimeZeroForSoundAndPicture) {
  StreamStart start;
  int64_t ms = 0;
  EXPECT_FALSE(Admit(start, true, false, 5000, &ms));   // a reconnect lands mid-GOP
  EXPECT_FALSE(Admit(start, false, false, 5010, &ms));  // sound waits for the picture
  EXPECT_TRUE(Admit(start, true, true, 5066, &ms));
  EXPECT_EQ(ms, 0);
  EXPECT_FALSE(Admit(start, false, false, 5033, &ms));  // encoded just before it: left out
  EXPECT_TRUE(Admit(start, false, false, 5079, &ms));
  EXPECT_EQ(ms, 13);
  EXPECT_TRUE(Admit(start, true, false, 5132, &ms));
  EXPECT_EQ(ms, 66);
}

TEST(StreamStart, SoundStartsAloneWhenNoPictureComes) {
  StreamStart start;
  int64_t ms = 0;
  EXPECT_FALSE(Admit(start, false, false, 100, &ms));
  EXPECT_FALSE(Admit(start, false, false, 100 + StreamStart::kWaitForPictureMs - 1, &ms));
  EXPECT_TRUE(Admit(start, false, false, 100 + StreamStart::kWaitForPictureMs, &ms));
  EXPECT_EQ(ms, 0);
  EXPECT_FALSE(Admit(start, true, false, 1200, &ms));  // a late camera still starts on a keyframe
  EXPECT_TRUE(Admit(start, true, true, 1300, &ms));
  EXPECT_EQ(ms, 200);
}

}  // namespace
}  // namespace verbena
