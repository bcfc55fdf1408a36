#include "launch/allowed_hosts.h"

#include <gtest/gtest.h>

#include "base/testing/test_folder.h"
#include "launch/launch_url.h"
#include "launch/profile_file.h"
#include "launch/settings.h"

namespace quillon {
namespace {

TEST(AllowedHostsTest, NamesMatchWithoutBlanksOrCaseAndAnEmptyListLetsAnyIn) {
  EXPECT_TRUE(HostAllowed("", "anywhere.test"));
  EXPECT_TRUE(HostAllowed("  ", "anywhere.test"));
  EXPECT_TRUE(HostAllowed("rtmp.school.test, 10.0.0.5", "10.0.0.5"));
  EXPECT_TRUE(HostAllowed(" RTMP.School.test ,10.0.0.5", "rtmp.school.test"));
  EXPECT_FALSE(HostAllowed("rtmp.school.test", "rtmp.school.test.evil.test"));
  EXPECT_FALSE(HostAllowed("rtmp.school.test", "school.test"));
  EXPECT_FALSE(HostAllowed("rtmp.school.test,", ""));  // an address without a host
  EXPECT_EQ(SplitPublishAddress("rtmp://[::1]:99/live").host, "[::1]");
}

// A link is stored only when the list holds its host; otherwise config.ini stays byte for byte
// and the teacher is told which host the link wanted.
TEST(AllowedHostsTest, ALinkToAnotherHostStoresNothingAndSaysWhichHost) {
  TestFolder folder;
  const auto file = folder / "config.ini";
  const std::string before = "[Device]\r\nAddress=old\r\nAllowedHosts=rtmp.school.test\r\n";
  TestFolder::Write(file, before);
  RecordedMessages messages;
  const auto link = [](const std::string& plain) {
    return "quillon.publish://" + ScrambleAddress(plain) + "/&tail";
  };
  EXPECT_EQ(StoreLaunchUrl(link("rtmp://elsewhere.test:1935/live/1&1"), file, messages),
            LaunchUrlResult::kRefused);
  EXPECT_EQ(TestFolder::Read(file), before);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0],
            "这个课堂链接要发布到 elsewhere.test，本机只允许发布到 rtmp.school.test。"
            "链接没有保存，请联系学校的课堂管理员。");

  EXPECT_EQ(StoreLaunchUrl(link("rtmp://RTMP.school.test/live/2&2"), file, messages),
            LaunchUrlResult::kStored);
  EXPECT_EQ(DescrambleAddress(*LoadProfile(file).Find("Device", "Address")),
            "rtmp://RTMP.school.test/live/2&2");
  EXPECT_EQ(StoreLaunchUrl("x", file, messages), LaunchUrlResult::kNone);
  EXPECT_EQ(messages.shown.size(), 1u);
}

}  // namespace
}  // namespace quillon
