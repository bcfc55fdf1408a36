#include "base/display_info.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "base/testing/xvfb.h"

namespace quillon {
namespace {

TEST(DisplayInfoTest, ThePrimaryMonitorOrElseTheFirst) {
  const MonitorArea left{{1920, 1080}, false}, right{{1280, 1024}, true};
  EXPECT_EQ(PrimaryOf({left, right})->Width, 1280);  // two monitors: not both, not the first
  EXPECT_EQ(PrimaryOf({left, {{800, 600}, false}})->Width, 1920);
  EXPECT_FALSE(PrimaryOf({}));
  EXPECT_FALSE(PrimaryOf({{{0, 0}, true}}));
}

TEST(DisplayInfoTest, AsksTheXServer) {
  if (!testing::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  testing::XvfbServer server(1366, 770);
  ASSERT_TRUE(server.Running());
  const char* previous = std::getenv("DISPLAY");
  const std::string saved = previous ? previous : "";
  setenv("DISPLAY", server.Display().c_str(), 1);
  const std::optional<ScreenSize> size = CreateSystemDisplayInfo()->PrimarySize();
  setenv("DISPLAY", ":999", 1);
  const std::unique_ptr<DisplayInfo> nowhere = CreateSystemDisplayInfo();
  EXPECT_FALSE(nowhere->PrimarySize());
  EXPECT_EQ(nowhere->WhyUnavailable(), "cannot connect to the X server :999");
  if (previous) setenv("DISPLAY", saved.c_str(), 1); else unsetenv("DISPLAY");
  ASSERT_TRUE(size);
  EXPECT_EQ(size->Width, 1366);
  EXPECT_EQ(size->Height, 770);
}

}  // namespace
}  // namespace quillon
