#include "verbena/reconnect_policy.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

TEST(ReconnectPolicy, WaitsGrowToTenSecondsAndStartOverAfterAConnection) {
  ReconnectPolicy policy;
  for (int expected : {1, 2, 4, 8, 10, 10}) EXPECT_EQ(policy.NextWaitSeconds(), expected);
  policy.Connected();
  EXPECT_EQ(policy.NextWaitSeconds(), 1);
}

TEST(ReconnectPolicy, GivesUpOnlyOnRefusalsInARow) {
  ReconnectPolicy policy;
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(policy.Failed(false));  // unreachable: keep trying
  for (int i = 1; i < ReconnectPolicy::kMaxRefusals; ++i) EXPECT_TRUE(policy.Failed(true));
  EXPECT_TRUE(policy.Failed(false));  // an unreachable server in between starts the count over
  for (int i = 1; i < ReconnectPolicy::kMaxRefusals; ++i) EXPECT_TRUE(policy.Failed(true));
  EXPECT_FALSE(policy.Failed(true));
}

}  // namespace
}  // namespace verbena
