#include "base/log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quillon {
namespace {

TEST(LogTest, EachCallIsOnePrefixedLineOnStandardError) {
  const std::string longText(5000, 'x');
  ::testing::internal::CaptureStderr();
  LogError("cannot load the encoder library %s: %s", "/opt/q/libverbena.so", "no such file");
  LogWarning("%d%% of %s", 50, "the screen");
  LogInfo("no display\nTry \"quillon-publisher --help\".");
  LogInfo("%s", longText.c_str());
  LogInfo("%s", "");
  const std::string p = "quillon-publisher: ";
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            p + "cannot load the encoder library /opt/q/libverbena.so: no such file\n" + p +
                "50% of the screen\n" + p + "no display\nTry \"quillon-publisher --help\".\n" + p +
                longText + "\n" + p + "\n");
}

TEST(LogTest, LinesFromManyThreadsStayWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  const std::string filler(200, '.');
  ::testing::internal::CaptureStderr();
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &filler] {
        for (int i = 0; i < kLines; ++i) LogInfo("thread %d line %d %s end", t, i, filler.c_str());
      });
    }
  }
  std::istringstream said(::testing::internal::GetCapturedStderr());
  std::vector<int> next(kThreads, 0);
  for (std::string line; std::getline(said, line);) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "quillon-publisher: thread %d line %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(i, next[t]++) << line;
    EXPECT_EQ(line, "quillon-publisher: thread " + std::to_string(t) + " line " +
                        std::to_string(i) + " " + filler + " end");
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kLines));  // every line, none twice
}

TEST(LogTest, CaptureKeepsLinesWithTheirLevelsInsteadOfWritingThem) {
  ::testing::internal::CaptureStderr();
  {
    LogCapture capture;
    LogError("e %d", 1);
    LogWarning("w");
    LogInfo("i");
    using Lines = std::vector<std::pair<LogLevel, std::string>>;
    EXPECT_EQ(capture.Lines(), (Lines{{LogLevel::kError, "quillon-publisher: e 1\n"},
                                      {LogLevel::kWarning, "quillon-publisher: w\n"},
                                      {LogLevel::kInfo, "quillon-publisher: i\n"}}));
    EXPECT_EQ(capture.Text(),
              "quillon-publisher: e 1\nquillon-publisher: w\nquillon-publisher: i\n");
  }
  LogInfo("after");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "quillon-publisher: after\n");
}

TEST(LogTest, TimingLinesOnlyWhenAskedForWithTheWallClockToTheMicrosecond) {
  LogCapture capture;
  LogTiming("quiet by default");
  EnableTimingLog(true);
  // Whole microseconds since 1970, as the line prints them: no rounding of a double between them.
  const auto microsNow = [] {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const long long before = microsNow();
  LogTiming("page loaded");
  const long long after = microsNow();
  EnableTimingLog(false);
  LogTiming("quiet again");
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 1u) << capture.Text();
  EXPECT_EQ(lines[0].first, LogLevel::kTiming);
  long long seconds = 0;
  char micro[8] = {};
  char what[32] = {};
  ASSERT_EQ(std::sscanf(lines[0].second.c_str(), "quillon-publisher: timing %lld.%7[0-9] %31[^\n]",
                        &seconds, micro, what),
            3)
      << lines[0].second;
  EXPECT_EQ(std::string(micro).size(), 6u) << lines[0].second;
  EXPECT_EQ(std::string(what), "page loaded");
  const long long at = seconds * 1000000 + std::atoll(micro);
  EXPECT_GE(at, before);
  EXPECT_LE(at, after);
}

}  // namespace
}  // namespace quillon
