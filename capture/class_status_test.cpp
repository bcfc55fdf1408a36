#include "capture/class_status.h"

#include <gtest/gtest.h>

#include <utility>

namespace quillon {
namespace {

ClassReading Live(uint32_t kbps, uint64_t dropped = 0) {
  ClassReading reading;
  reading.running = true;
  reading.stats = VerbenaStats{};
  reading.stats->Connected = 1;
  reading.stats->BitrateKbps = kbps;
  reading.stats->PicturesDropped = dropped;
  return reading;
}

// Host and port, marked when the connection is encrypted, as the status line says it.
TEST(PublishTarget, IsHostAndPortAndTheStatusSaysWhenItIsEncrypted) {
  const std::pair<const char*, const char*> cases[] = {
      {"rtmp://10.0.0.5:1936/encoder/zel/mp4:1.mp4", "10.0.0.5:1936"},
      {"rtmp://rtmp.school.test/live", "rtmp.school.test:1935"},
      {"rtmp://[::1]/live", "[::1]:1935"},
      {"rtmp://[::1]:99/live", "[::1]:99"},
      {"rtmps://rtmp.school.test/live", "rtmp.school.test:443（加密）"},
      {"rtmps://[::1]:4443/live", "[::1]:4443（加密）"},
      {"no address", "no address"},
  };
  for (const auto& [url, target] : cases) EXPECT_EQ(PublishTarget(url), target);
  ClassStatusTracker tracker(PublishTarget("rtmps://h/live/1"));
  EXPECT_EQ(tracker.Update(0, {}).line, "未上课 · 上课后发布到 h:443（加密）");
  EXPECT_EQ(tracker.Update(1, Live(812)).line, "正在直播 00:00 · 加密 · 812 kb/s");
}

TEST(ClassStatus, StartFailuresSayWhyAndWhere) {
  const std::string url = "rtmp://rtmp.school.test/live/1";
  EXPECT_EQ(StartFailureText(0, url), "");  // the library did not say
  EXPECT_EQ(StartFailureText(1, url), "服务器 rtmp.school.test:1935 在 5 秒内没有应答：" + url);
  EXPECT_EQ(StartFailureText(3, url), "找不到服务器 rtmp.school.test：" + url);
  EXPECT_EQ(StartFailureText(4, url),
            "服务器拒绝了这个课堂的直播（这个课堂可能已有人在直播）：" + url);
  const std::string tls = "rtmps://rtmp.school.test/live/1";
  const std::string server = "服务器 rtmp.school.test:443 的证书";
  EXPECT_EQ(StartFailureText(7, tls), server + "不可信（不是受信任的证书机构签发的）：" + tls);
  EXPECT_EQ(StartFailureText(8, tls), server + "已过期（或还没有生效）：" + tls);
  EXPECT_EQ(StartFailureText(9, tls), server + "是别的主机的，不是 rtmp.school.test 的：" + tls);
}

TEST(ClassStatus, FollowsTheConnectionThroughABreakAndARefusal) {
  ClassStatusTracker tracker("h:1935");
  struct Step {
    double at;
    ClassReading reading;
    ClassState state;
    bool changed;
    std::string line;
  };
  ClassReading starting;
  starting.starting = true;
  ClassReading broken = Live(0);
  broken.stats->Connected = 0;
  broken.stats->FailedAttempts = 2;
  ClassReading refused = broken;
  refused.stats->GaveUp = 1;
  const Step steps[] = {
      {0, {}, ClassState::kIdle, true, "未上课 · 上课后发布到 h:1935"},
      {1, {}, ClassState::kIdle, false, "未上课 · 上课后发布到 h:1935"},
      {2, starting, ClassState::kConnecting, true, "正在连接 h:1935…"},
      {3, Live(812), ClassState::kLive, true, "正在直播 00:00 · 812 kb/s"},
      {68, Live(790), ClassState::kLive, false, "正在直播 01:05 · 790 kb/s"},
      {70, broken, ClassState::kReconnecting, true,
       "连接中断，正在重新连接 h:1935 · 第 3 次 · 已中断 00:00"},
      {75, broken, ClassState::kReconnecting, false,
       "连接中断，正在重新连接 h:1935 · 第 3 次 · 已中断 00:05"},
      // The class's time runs on through the break.
      {80, Live(800), ClassState::kLive, true, "正在直播 01:17 · 800 kb/s"},
      {81, refused, ClassState::kGaveUp, true,
       "服务器拒绝了直播（这个课堂可能已有人在直播），请下课后再试"},
      {82, {}, ClassState::kIdle, true, "未上课 · 上课后发布到 h:1935"},
      {90, Live(500), ClassState::kLive, true, "正在直播 00:00 · 500 kb/s"},  // a new class
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at);
    const ClassStatusTracker::Status status = tracker.Update(step.at, step.reading);
    EXPECT_EQ(status.state, step.state);
    EXPECT_EQ(status.changed, step.changed);
    EXPECT_EQ(status.line, step.line);
  }
}

TEST(ClassStatus, TellsWhatDoesNotReachTheStudents) {
  ClassStatusTracker tracker("h:1935");
  ClassReading reading = Live(800, 0);
  reading.soundWanted = true;
  reading.publishesPicture = false;
  // No sound device: no sound; no picture source: no picture.
  EXPECT_EQ(tracker.Update(0, reading).line, "正在直播 00:00 · 800 kb/s · 没有画面 · 没有声音");
  reading.publishesPicture = true;
  reading.soundOpen = true;
  reading.soundPeak = 1000;  // about -30 dBFS
  reading.stats->PicturesDropped = 7;
  EXPECT_EQ(tracker.Update(30, reading).line,
            "正在直播 00:30 · 800 kb/s · 最近一分钟丢了 7 帧 · 音量 ▮▮▮▯▯");
  // A device that records only silence: after two seconds, no sound. The drops are older than a
  // minute by then.
  reading.soundPeak = 0;
  EXPECT_EQ(tracker.Update(31, reading).line,
            "正在直播 00:31 · 800 kb/s · 最近一分钟丢了 7 帧 · 音量 ▯▯▯▯▯");
  EXPECT_EQ(tracker.Update(91, reading).line, "正在直播 01:31 · 800 kb/s · 没有声音");
  // A link that cannot carry the class's rate: the teacher sees the picture's rate lowered.
  reading.classKbps = 1000;
  reading.stats->TargetKbps = 400;
  EXPECT_EQ(tracker.Update(91.5, reading).line,
            "正在直播 01:31 · 800 kb/s · 网络慢，画质降到 400 kb/s · 没有声音");
  reading.stats->TargetKbps = 1000;
  reading.classKbps = 0;
  // A class whose device opened is not called silent before it has had two seconds to be heard.
  ClassStatusTracker fresh("h:1935");
  EXPECT_EQ(fresh.Update(0, reading).line, "正在直播 00:00 · 800 kb/s · 音量 ▯▯▯▯▯");
  EXPECT_EQ(fresh.Update(2, reading).line, "正在直播 00:02 · 800 kb/s · 没有声音");
  // A library without statistics: live, with nothing more to say about the connection.
  ClassReading quiet;
  quiet.running = true;
  EXPECT_EQ(tracker.Update(92, quiet).line, "正在直播 01:32");
}

}  // namespace
}  // namespace quillon
