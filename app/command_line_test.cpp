#include "app/command_line.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

CommandLine Parse(std::vector<std::string> arguments) {
  return ParseCommandLine(arguments);
}

TEST(CommandLineTest, LaunchUrlAndStandAloneOptions) {
  EXPECT_EQ(Parse({}).Kind, Command::kStart);
  EXPECT_FALSE(Parse({}).HasLaunchUrl);
  const CommandLine url = Parse({"quillon.publish://abc%26x"});
  EXPECT_EQ(url.Kind, Command::kStart);
  EXPECT_TRUE(url.HasLaunchUrl);
  EXPECT_EQ(url.LaunchUrl, "quillon.publish://abc%26x");
  EXPECT_EQ(Parse({"x"}).LaunchUrl, "x");  // a start's own business to tell it is too short
  EXPECT_EQ(Parse({"--show-settings"}).Kind, Command::kShowSettings);
  EXPECT_EQ(Parse({"--list-devices"}).Kind, Command::kListDevices);
  EXPECT_EQ(Parse({"--help"}).Kind, Command::kHelp);
  EXPECT_EQ(Parse({"-h"}).Kind, Command::kHelp);
  EXPECT_EQ(Parse({"--version"}).Kind, Command::kVersion);
}

TEST(CommandLineTest, Headless) {
  CommandLine c = Parse({"--headless"});
  EXPECT_EQ(c.Kind, Command::kHeadless);
  EXPECT_EQ(c.DurationSeconds, 0);
  EXPECT_EQ(c.StatusIntervalSeconds, 10);
  EXPECT_FALSE(c.HasLaunchUrl);
  c = Parse({"--headless", "--duration", "30", "quillon.publish://a&b"});
  EXPECT_EQ(c.Kind, Command::kHeadless);
  EXPECT_EQ(c.DurationSeconds, 30);
  EXPECT_EQ(c.LaunchUrl, "quillon.publish://a&b");
  c = Parse({"--headless", "quillon.publish://a&b", "--duration=5", "--status-interval", "0"});
  EXPECT_EQ(c.DurationSeconds, 5);
  EXPECT_EQ(c.StatusIntervalSeconds, 0);
  EXPECT_TRUE(c.HasLaunchUrl);
}

TEST(CommandLineTest, MistakesAreErrorsThatSayWhat) {
  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  } cases[] = {
      {{"--bogus"}, "unknown option \"--bogus\""},
      {{"quillon.publish://a&b", "--show-settings"}, "unknown option"},
      {{"--show-settings", "extra"}, "takes no other argument"},
      {{"--version", "--help"}, "takes no other argument"},
      {{"url1", "url2"}, "only one launch URL"},
      {{"--duration", "5"}, "unknown option \"--duration\""},
      {{"--headless", "--duration"}, "needs a number of seconds"},
      {{"--headless", "--duration", "0"}, "from 1 to 604800"},
      {{"--headless", "--duration", "5s"}, "not \"5s\""},
      {{"--headless", "--duration", "99999999999"}, "from 1 to 604800"},
      {{"--headless", "--status-interval=-1"},
       "--status-interval needs a whole number of seconds from 0"},
      {{"--headless", "--durationx=5"}, "unknown option"},
  };
  for (const Case& c : cases) {
    const CommandLine parsed = Parse(c.arguments);
    EXPECT_EQ(parsed.Kind, Command::kError) << c.arguments[0];
    EXPECT_NE(parsed.Error.find(c.says), std::string::npos) << parsed.Error;
  }
}

}  // namespace
}  // namespace quillon
