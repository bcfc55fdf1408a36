#include "verbena/stream_start.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

// The packet's time on the output's timeline, or -1 when it is left out.
int64_t Admit(StreamStart& start, bool video, bool key, int64_t ms) {
  int64_t dts = ms, pts = ms;
  return start.Admit(video, key, &dts, &pts) ? dts : -1;
}

TEST(StreamStart, TheFirstKeyframeIsTimeZeroForSoundAndPicture) {
  StreamStart start;
  EXPECT_EQ(Admit(start, true, false, 5000), -1);   // a reconnect lands mid-GOP
  EXPECT_EQ(Admit(start, false, false, 5010), -1);  // sound waits for the picture
  EXPECT_EQ(Admit(start, true, true, 5066), 0);
  EXPECT_EQ(Admit(start, false, false, 5033), -1);  // encoded just before it: left out
  EXPECT_EQ(Admit(start, false, false, 5079), 13);
  EXPECT_EQ(Admit(start, true, false, 5132), 66);
}

TEST(StreamStart, SoundStartsAloneWhenNoPictureComes) {
  StreamStart start;
  EXPECT_EQ(Admit(start, false, false, 100), -1);
  EXPECT_EQ(Admit(start, false, false, 100 + StreamStart::kWaitForPictureMs - 1), -1);
  EXPECT_EQ(Admit(start, false, false, 100 + StreamStart::kWaitForPictureMs), 0);
  EXPECT_EQ(Admit(start, true, false, 1200), -1);  // a late camera still starts on a keyframe
  EXPECT_EQ(Admit(start, true, true, 1300), 200);
}

}  // namespace
}  // namespace verbena
