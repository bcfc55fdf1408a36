#include "verbena/reconnect_policy.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

TEST(ReconnectPolicy, WaitsGrowToTenSecondsAndOnlyRefusalsInARowGiveUp) {
  ReconnectPolicy policy;
  auto refusedAlmostEnough = [&policy] {
    for (int i = 1; i < ReconnectPolicy::kMaxRefusals; ++i) EXPECT_TRUE(policy.Failed(true));
  };
  for (int expected : {1, 2, 4, 8, 10, 10}) EXPECT_EQ(policy.NextWaitSeconds(), expected);
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(policy.Failed(false));  // unreachable: keep trying
  refusedAlmostEnough();
  policy.Connected();  // a connection starts both over
  EXPECT_EQ(policy.NextWaitSeconds(), 1);
  refusedAlmostEnough();
  EXPECT_TRUE(policy.Failed(false));  // so does an unreachable server in between
  refusedAlmostEnough();
  EXPECT_FALSE(policy.Failed(true));
}

}  // namespace
}  // namespace verbena
