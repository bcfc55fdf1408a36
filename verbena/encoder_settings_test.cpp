#include "verbena/encoder_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "verbena/testing/encoder_params.h"

namespace verbena {
namespace {

using P = EncoderParams;
struct Change {
  int32_t P::*field;
  int32_t value;
};

// The shipped settings for a 1280x720 camera with the given changes.
CheckResult Check(std::initializer_list<Change> changes,
                  const char* url = "rtmp://127.0.0.1:10086/encoder/zel/mp4:12345678.mp4") {
  EncoderParams params = TestEncoderParams(url, 1280, 720);
  for (Change change : changes) params.*change.field = change.value;
  return CheckParams(params);
}

TEST(EncoderSettings, TheShippedSettingsGiveABalancedStreamWithSound) {
  CheckResult result = Check({});
  ASSERT_TRUE(result.ok) << result.error;
  const EncoderSettings& s = result.settings;
  EXPECT_STREQ(s.preset, "veryfast");
  EXPECT_EQ(s.keyframeInterval, 30);
  EXPECT_EQ(s.streamName, "12345678");
  EXPECT_TRUE(s.sound.enabled);
  EXPECT_EQ(s.soundNotifyBytes, 4096);
  EXPECT_EQ(s.sound.blockBytes, 4);
}

TEST(EncoderSettings, RefusesWhatCannotBeEncoded) {
  auto refused = [](const CheckResult& result) { return !result.ok && !result.error.empty(); };
  const Change unencodable[] = {{&P::FormatCode, 4102}, {&P::Width, 0},     {&P::Height, -720},
                                {&P::Width, 100000},    {&P::FrameRate, 0}, {&P::Bitrate, 0}};
  for (Change change : unencodable) EXPECT_TRUE(refused(Check({change}))) << change.value;
  for (const char* url : {"http://host/app/s", "rtmp://", "rtmp://host", "rtmp://host/a b", ""})
    EXPECT_TRUE(refused(Check({}, url))) << url;
  EncoderParams unterminated = TestEncoderParams();
  std::memset(unterminated.Url, 'x', sizeof unterminated.Url);
  EXPECT_TRUE(refused(CheckParams(unterminated)));
}

TEST(EncoderSettings, ClampsWhatHasASensibleNearestValue) {
  // Odd camera sizes lose their last column and bottom row in the encoder.
  CheckResult result =
      Check({{&P::Quality, -3}, {&P::Interval, 0}, {&P::Width, 641}, {&P::Height, 481}});
  ASSERT_TRUE(result.ok);
  EXPECT_STREQ(result.settings.preset, "ultrafast");
  EXPECT_EQ(result.settings.keyframeInterval, 2 * 15);
  EXPECT_EQ(result.settings.encodedWidth, 640);
  EXPECT_EQ(result.settings.encodedHeight, 480);
  EXPECT_EQ(result.settings.pictureBytes, 641 * 481 * 3);
  EXPECT_STREQ(PresetForQuality(99), "veryslow");
}

TEST(EncoderSettings, UnusableSoundFormatsPublishPicturesOnly) {
  const Change soundless[] = {
      {&P::BitsPerSample, 24}, {&P::Chanels, 6}, {&P::SamplesPerSec, 44000}};
  for (Change change : soundless) {
    CheckResult result = Check({change});
    ASSERT_TRUE(result.ok);
    EXPECT_FALSE(result.settings.sound.enabled);
    EXPECT_FALSE(result.soundWarning.empty());
  }
  CheckResult mono8 = Check({{&P::BitsPerSample, 8}, {&P::Chanels, 1}, {&P::SamplesPerSec, 8000}});
  EXPECT_TRUE(mono8.settings.sound.enabled);
  EXPECT_EQ(mono8.settings.soundNotifyBytes, 1024);
  EXPECT_EQ(SoundNotifyBytes(0, 0), 1024);
}

TEST(EncoderSettings, StreamNamesMakeSafeFileNames) {
  EXPECT_EQ(StreamNameFromUrl("rtmp://h/encoder/zel/mp4:12345678.mp4"), "12345678");
  EXPECT_EQ(StreamNameFromUrl("rtmp://h/live/room 7?key=1"), "room_7");
  EXPECT_EQ(StreamNameFromUrl("rtmp://h/live/../"), "class");
  EXPECT_EQ(StreamNameFromUrl("rtmp://h/live/a\\b"), "a_b");
}

}  // namespace
}  // namespace verbena
