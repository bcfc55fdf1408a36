#include "verbena/rtmp_address.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/name_lookup.h"

namespace verbena {
namespace {

// The tcUrl must be the one FFmpeg makes of the address with its name: a server picks the site
// of a stream by it.
TEST(RtmpAddressTest, ANumericConnectionKeepsTheTcUrlOfTheName) {
  struct Case {
    const char* url;
    const char* tcUrl;
    const char* numeric;  // WithHost(…, "192.0.2.7")
  };
  const Case cases[] = {
      {"rtmp://class.school.test/live/123", "rtmp://class.school.test:1935/live",
       "rtmp://192.0.2.7:1935/live/123"},
      {"rtmp://h:10086/encoder/zel/mp4:55555555.mp4", "rtmp://h:10086/encoder/zel",
       "rtmp://192.0.2.7:10086/encoder/zel/mp4:55555555.mp4"},
      {"rtmp://h/app/mp4:a/b", "rtmp://h:1935/app", "rtmp://192.0.2.7:1935/app/mp4:a/b"},
      {"rtmp://h/live/123?key=a:b", "rtmp://h:1935/live", "rtmp://192.0.2.7:1935/live/123?key=a:b"},
      {"rtmp://[::1]:99/a/b/c", "rtmp://[::1]:99/a/b", "rtmp://192.0.2.7:99/a/b/c"},
  };
  for (const Case& c : cases) {
    RtmpAddress address;
    ASSERT_TRUE(SplitRtmpAddress(c.url, &address)) << c.url;
    EXPECT_EQ(RtmpTcUrl(address), c.tcUrl) << c.url;
    EXPECT_EQ(WithHost(address, "192.0.2.7"), c.numeric) << c.url;
  }
  RtmpAddress address;
  for (const char* bad : {"live/123", "rtmp://user:pw@h/live/1", "rtmp://h:99999/a/b",
                          "rtmp://h:x/a/b", "rtmp://[::1/a/b", "rtmp:///a/b"})
    EXPECT_FALSE(SplitRtmpAddress(bad, &address)) << bad;
  EXPECT_TRUE(IsNumericHost("10.0.0.5") && IsNumericHost("::1"));
  EXPECT_FALSE(IsNumericHost("10.0.0") || IsNumericHost("1.2.3.example"));
}

// A resolver that answers only after a long while.
NameLookup Hangs(const std::string&) {
  std::this_thread::sleep_for(std::chrono::seconds(3));
  return {};
}

TEST(NameLookupTest, FindsNamesAndIsLeftBehindAtTheDeadlineOrWhenAsked) {
  const int64_t later = av_gettime_relative() + 5000000;
  NameLookup numeric = LookUpHost("127.0.0.1", later, nullptr);
  EXPECT_EQ(numeric.result, NameLookup::Result::kFound);
  EXPECT_EQ(numeric.addresses, std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(LookUpHost("localhost", later, nullptr).result, NameLookup::Result::kFound);

  const int64_t started = av_gettime_relative();
  EXPECT_EQ(LookUpHostWith(&Hangs, "h", started + 200000, nullptr).result,
            NameLookup::Result::kNoAnswer);
  std::atomic<bool> abort{false};
  std::thread stop([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    abort = true;
  });
  EXPECT_EQ(LookUpHostWith(&Hangs, "h", later, &abort).result, NameLookup::Result::kAborted);
  stop.join();
  EXPECT_LT(av_gettime_relative() - started, 2000000);  // neither waited for the answer
}

}  // namespace
}  // namespace verbena
