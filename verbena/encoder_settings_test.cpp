#include "verbena/encoder_settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "verbena/testing/encoder_params.h"

namespace verbena {
namespace {

EncoderParams Balanced() {
  return TestEncoderParams("rtmp://127.0.0.1:10086/encoder/zel/mp4:12345678.mp4", 1280, 720);
}

TEST(EncoderSettings, TheShippedSettingsGiveABalancedStreamWithSound) {
  CheckResult result = CheckParams(Balanced());
  ASSERT_TRUE(result.ok) << result.error;
  const EncoderSettings& s = result.settings;
  EXPECT_STREQ(s.preset, "veryfast");
  EXPECT_EQ(s.keyframeInterval, 30);
  EXPECT_EQ(s.pictureBytes, 1280 * 720 * 3);
  EXPECT_EQ(s.streamName, "12345678");
  EXPECT_TRUE(s.sound.enabled);
  EXPECT_EQ(s.soundNotifyBytes, 4096);
  EXPECT_EQ(s.sound.blockBytes, 4);
}

TEST(EncoderSettings, RefusesWhatCannotBeEncoded) {
  auto refused = [](void (*change)(EncoderParams&)) {
    EncoderParams params = Balanced();
    change(params);
    CheckResult result = CheckParams(params);
    return !result.ok && !result.error.empty();
  };
  EXPECT_TRUE(refused([](EncoderParams& p) { p.FormatCode = 4102; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { p.Width = 0; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { p.Height = -720; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { p.Width = 100000; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { p.FrameRate = 0; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { p.Bitrate = 0; }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::memset(p.Url, 'x', sizeof p.Url); }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::strcpy(p.Url, "http://host/app/s"); }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::strcpy(p.Url, "rtmp://"); }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::strcpy(p.Url, "rtmp://host"); }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::strcpy(p.Url, "rtmp://host/a b"); }));
  EXPECT_TRUE(refused([](EncoderParams& p) { std::strcpy(p.Url, ""); }));
}

TEST(EncoderSettings, ClampsWhatHasASensibleNearestValue) {
  EncoderParams params = Balanced();
  params.Quality = -3;
  params.Interval = 0;
  params.Width = 641;  // odd camera sizes lose their last column and bottom row in the encoder
  params.Height = 481;
  CheckResult result = CheckParams(params);
  ASSERT_TRUE(result.ok);
  EXPECT_STREQ(result.settings.preset, "ultrafast");
  EXPECT_EQ(result.settings.keyframeInterval, 2 * 15);
  EXPECT_EQ(result.settings.encodedWidth, 640);
  EXPECT_EQ(result.settings.encodedHeight, 480);
  EXPECT_EQ(result.settings.pictureBytes, 641 * 481 * 3);
  EXPECT_STREQ(PresetForQuality(8), "veryslow");
  EXPECT_STREQ(PresetForQuality(99), "veryslow");
}

TEST(EncoderSettings, UnusableSoundFormatsPublishPicturesOnly) {
  for (auto change :
       {+[](EncoderParams& p) { p.BitsPerSample = 24; }, +[](EncoderParams& p) { p.Chanels = 6; },
        +[](EncoderParams& p) { p.SamplesPerSec = 44000; }}) {
    EncoderParams params = Balanced();
    change(params);
    CheckResult result = CheckParams(params);
    ASSERT_TRUE(result.ok);
    EXPECT_FALSE(result.settings.sound.enabled);
    EXPECT_FALSE(result.soundWarning.empty());
  }
  EncoderParams mono8 = Balanced();
  mono8.BitsPerSample = 8;
  mono8.Chanels = 1;
  mono8.SamplesPerSec = 8000;
  CheckResult result = CheckParams(mono8);
  EXPECT_TRUE(result.settings.sound.enabled);
  EXPECT_EQ(result.settings.soundNotifyBytes, 1024);
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
