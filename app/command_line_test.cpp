#include "app/command_line.h"

#include <gtest/gtest.h>

#include <utility>

namespace quillon {
namespace {

TEST(CommandLineTest, EachCommandWithItsLaunchUrlAndOptions) {
  const char* const none = nullptr;  // no launch URL
  const char* const url = "quillon.publish://a&b";
  struct Case {
    std::vector<std::string> arguments;
    Command kind;
    const char* launchUrl;
    int duration = 0, statusInterval = 10;
  } cases[] = {
      {{}, Command::kStart, none},
      {{"quillon.publish://abc%26x"}, Command::kStart, "quillon.publish://abc%26x"},
      {{"x"}, Command::kStart, "x"},  // a start's own business to tell it is too short
      {{"--show-settings"}, Command::kShowSettings, none},
      {{"--list-devices"}, Command::kListDevices, none},
      {{"--help"}, Command::kHelp, none},
      {{"-h"}, Command::kHelp, none},
      {{"--version"}, Command::kVersion, none},
      {{"--headless"}, Command::kHeadless, none},
      {{"--headless", "--duration", "30", url}, Command::kHeadless, url, 30},
      {{"--headless", url, "--duration=5", "--status-interval", "0"},
       Command::kHeadless,
       url,
       5,
       0},
  };
  for (const Case& c : cases) {
    const CommandLine parsed = ParseCommandLine(c.arguments);
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    EXPECT_EQ(parsed.Kind, c.kind);
    EXPECT_EQ(parsed.HasLaunchUrl, c.launchUrl != nullptr);
    EXPECT_EQ(parsed.LaunchUrl, c.launchUrl != nullptr ? c.launchUrl : "");
    EXPECT_EQ(std::pair(parsed.DurationSeconds, parsed.StatusIntervalSeconds),
              std::pair(c.duration, c.statusInterval));
  }
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
    const CommandLine parsed = ParseCommandLine(c.arguments);
    EXPECT_EQ(parsed.Kind, Command::kError) << c.arguments[0];
    EXPECT_NE(parsed.Error.find(c.says), std::string::npos) << parsed.Error;
  }
}

}  // namespace
}  // namespace quillon
