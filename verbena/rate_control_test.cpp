#include "verbena/rate_control.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

// A link that takes 250 kbit/s under a class of 500 kbit/s with 64 kbit/s of sound.
TEST(RateControlTest, StepsDownToTheLinkNotBelowTheFloorAndBackUpWhenItClears) {
  RateControl rate(500, 64);
  EXPECT_EQ(rate.Update(0, 100, 0), 500);                 // nothing piles up: the class's rate
  EXPECT_EQ(rate.Update(1, 900, 250), 167);               // (250 - 64) x 0.9 = 167, below 500 x 0.6
  EXPECT_EQ(rate.Update(1.25, 900, 250), 167);            // a step needs a while to take effect
  EXPECT_EQ(rate.Update(2.5, 900, 120), 100);             // never below a fifth of 500
  EXPECT_EQ(rate.Update(3, 200, 230), 100);               // neither full nor clear: stays
  EXPECT_EQ(RateControl(200, 0).Update(0, 900, 20), 64);  // nor below 64 kbit/s

  // The cap lifts: three seconds of a short backlog, then steps of 30 % every two seconds,
  // back to the full rate well within 30 s.
  double t = 4;
  for (; rate.Update(t, 50, 230) < 500; t += 0.5) ASSERT_LT(t, 34) << rate.TargetKbps();
  EXPECT_GE(t, 4 + 3);
  EXPECT_EQ(rate.Update(t + 10, 50, 500), 500);  // never above the class's rate

  // A backlog that comes back between the steps up starts the wait again.
  RateControl again(500, 64);
  again.Update(0, 900, 200);
  const int low = again.TargetKbps();
  again.Update(1, 50, 200);
  again.Update(5, 170, 200);                   // neither full nor clear
  EXPECT_EQ(again.Update(6.5, 50, 200), low);  // 3 s of room counted from 6.5, not from 1
  EXPECT_EQ(again.Update(9, 50, 200), low);
  EXPECT_GT(again.Update(9.5, 50, 200), low);
}

}  // namespace
}  // namespace verbena
