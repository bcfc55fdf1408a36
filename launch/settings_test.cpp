#include "launch/settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/testing/shipped_settings.h"
#include "base/testing/test_folder.h"
#include "launch/profile_file.h"
#include "launch/settings_check.h"

namespace quillon {
namespace {

class FakeDisplay : public DisplayInfo {
 public:
  std::optional<ScreenSize> size = ScreenSize{1366, 768};
  std::optional<ScreenSize> PrimarySize() const override { return size; }
};

const char kShippedConfig[] =
    "[Device]\nVideoStyle=2\nDeviceID=1\nScreenWidth=1280\nScreenHeight=720\nVideoWidth=640\n"
    "VideoHeight=480\nVideoX=8\nVideoY=9\nScreenRate=4\nFrameRate=15\nBitrate=500\nInterval=2\n"
    "Quality=3\nRecord=0\nHaveAudio=1\n[Audio]\nSamplesPerSec=44100\nBitsPerSample=16\n"
    "Chanels=2\n";

class SettingsTest : public ::testing::Test {
 protected:
  // Writes config.ini with the given text and, when not empty, the address stored scrambled.
  void WriteConfig(const std::string& text, const std::string& plain_address = "") {
    TestFolder::Write(file_, text);
    if (!plain_address.empty()) {
      ASSERT_TRUE(WriteProfileString(file_, "Device", "Address", ScrambleAddress(plain_address)));
    }
  }
  bool Read() { return ReadSettings(window_, display_, messages_, file_); }

  TestFolder folder_;
  std::filesystem::path file_ = folder_ / "config.ini";
  FakeDisplay display_;
  RecordedMessages messages_;
  WindowSettings window_;
};

TEST(AddressScramblingTest, RaisesEachByteByItsPositionModuloThree) {
  EXPECT_EQ(ScrambleAddress("abc"), "bdf");
  EXPECT_EQ(ScrambleAddress("abcd"), "bdfe");
  EXPECT_EQ(DescrambleAddress("bdfe"), "abcd");
  const std::string url = "rtmp://127.0.0.1:10086/encoder/zel/mp4:12345678.mp4&12345678";
  EXPECT_EQ(DescrambleAddress(ScrambleAddress(url)), url);
  // Byte values wrap around, and a byte that becomes zero ends the text.
  EXPECT_EQ(ScrambleAddress("\xFE"
                            "a"),
            "\xFF"
            "c");
  EXPECT_EQ(ScrambleAddress("a\xFE"
                            "b"),
            "b");
  EXPECT_EQ(DescrambleAddress("b\x02xyz"), "a");
  EXPECT_EQ(DescrambleAddress(std::string("bd\0fg", 5)), "ab");
}

TEST_F(SettingsTest, ReadsEveryFieldAndHandsTheWindowItsValues) {
  WriteConfig(kShippedConfig, "rtmp://host/live&42");
  ASSERT_TRUE(Read());
  const PublisherSettings& s = *window_.Record;
  EXPECT_EQ(s.VideoStyle, 2);
  EXPECT_EQ(s.DeviceID, 1);
  EXPECT_EQ(s.ScreenWidth, 1280);
  EXPECT_EQ(s.ScreenHeight, 720);
  EXPECT_EQ(s.VideoWidth, 640);
  EXPECT_EQ(s.VideoHeight, 480);
  EXPECT_EQ(s.VideoX, 8);
  EXPECT_EQ(s.VideoY, 9);
  EXPECT_EQ(s.ScreenRate, 4);
  EXPECT_EQ(s.FrameRate, 15);
  EXPECT_EQ(s.Bitrate, 500);
  EXPECT_EQ(s.Interval, 2);
  EXPECT_EQ(s.Quality, 3);
  EXPECT_EQ(s.Record, 0);
  EXPECT_EQ(s.HaveAudio, 1);
  EXPECT_EQ(s.SamplesPerSec, 44100);
  EXPECT_EQ(s.BitsPerSample, 16);
  EXPECT_EQ(s.Chanels, 2);
  EXPECT_EQ(s.Address, ScrambleAddress("rtmp://host/live&42"));
  EXPECT_EQ(s.PublishUrl, "rtmp://host/live");
  EXPECT_EQ(window_.StreamName, "42");
  EXPECT_EQ(window_.Choices.HaveAudio, 1);
  EXPECT_EQ(window_.Choices.DeviceID, 1);
  EXPECT_EQ(window_.Choices.Bitrate, 500);
  EXPECT_EQ(window_.Choices.VideoStyle, 2);
  EXPECT_TRUE(messages_.shown.empty());

  // A later read refills the same record.
  const PublisherSettings* first = window_.Record.get();
  WriteProfileString(file_, "Device", "FrameRate", "30");
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record.get(), first);
  EXPECT_EQ(window_.Record->FrameRate, 30);
}

TEST_F(SettingsTest, ScreenSizeFallsBackToTheDisplayAndRoundsDownToMultiplesOf4) {
  struct Case {
    const char* lines;
    int32_t width, height;
  } cases[] = {
      {"", 1364, 768},  // missing: display size
      {"ScreenWidth=0\nScreenHeight=0\n", 1364, 768},
      {"ScreenWidth=1023\nScreenHeight=0\n", 1364, 768},  // one zero takes both from the display
      {"ScreenWidth=1023\nScreenHeight=770\n", 1020, 768},
      {"ScreenWidth=1024\nScreenHeight=-1\n", 1024, -4},  // not checked here, only rounded
  };
  for (const Case& c : cases) {
    WriteConfig(std::string("[Device]\n") + c.lines, "u&s");
    ASSERT_TRUE(Read());
    EXPECT_EQ(window_.Record->ScreenWidth, c.width) << c.lines;
    EXPECT_EQ(window_.Record->ScreenHeight, c.height) << c.lines;
  }
  display_.size = std::nullopt;  // no display to ask: the values stay as read
  WriteConfig("[Device]\nScreenWidth=1023\n", "u&s");
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record->ScreenWidth, 1020);
  EXPECT_EQ(window_.Record->ScreenHeight, 0);
}

TEST_F(SettingsTest, SplitsTheDescrambledAddressAtItsLastAmpersand) {
  WriteConfig("", "rtmp://h/app?a=1&b=2&class7");
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record->PublishUrl, "rtmp://h/app?a=1&b=2");
  EXPECT_EQ(window_.StreamName, "class7");

  WriteConfig("", "rtmp://h/app&");
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record->PublishUrl, "rtmp://h/app");
  EXPECT_EQ(window_.StreamName, "");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(SettingsTest, AddressIsCutTo99CharactersBeforeDescrambling) {
  const std::string url = "rtmp://host/" + std::string(78, 'p');  // 90 characters
  WriteConfig("", url + "&" + std::string(20, 's'));
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record->Address.size(), 99u);
  EXPECT_EQ(window_.Record->PublishUrl, url);
  EXPECT_EQ(window_.StreamName, std::string(8, 's'));

  // An "&" beyond the 99th character is lost with the rest.
  WriteConfig("", std::string(100, 'p') + "&s");
  EXPECT_FALSE(Read());
}

TEST_F(SettingsTest, AddressWithoutAmpersandIsRefused) {
  WriteConfig("[Device]\nBitrate=500\n", "rtmp://host/live");
  EXPECT_FALSE(Read());
  EXPECT_EQ(messages_.shown, std::vector<std::string>{"参数有误!"});
  EXPECT_EQ(window_.Record->PublishUrl, "");
  EXPECT_EQ(window_.StreamName, "rtmp://host/live");
  EXPECT_EQ(window_.Record->Bitrate, 500);  // the rest is read all the same
  EXPECT_EQ(window_.Choices.Bitrate, 500);
}

TEST_F(SettingsTest, MissingFileReadsAsZerosAndIsNotCreated) {
  EXPECT_FALSE(Read());
  EXPECT_EQ(window_.Record->FrameRate, 0);
  EXPECT_EQ(window_.Record->Address, "");
  EXPECT_EQ(window_.Record->ScreenWidth, 1364);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(SettingsTest, WriteBackRewritesOnlyTheChangedChoices) {
  WriteConfig(kShippedConfig);
  Read();
  const std::string before = TestFolder::Read(file_);
  WriteBackSettings(window_, file_);
  EXPECT_EQ(TestFolder::Read(file_), before);

  window_.Choices.Bitrate = 800;
  window_.Choices.DeviceID = -1;
  WriteBackSettings(window_, file_);
  std::string expected = before;
  expected.replace(expected.find("Bitrate=500"), 11, "Bitrate=800");
  expected.replace(expected.find("DeviceID=1"), 10, "DeviceID=-1");
  EXPECT_EQ(TestFolder::Read(file_), expected);
  EXPECT_EQ(window_.Record->Bitrate, 500);  // the record waits for the next read
}

TEST(SettingsCheckTest, ShippedValuesCanRunAClass) {
  PublisherSettings s = ShippedSettings();
  s.VideoStyle = 2;
  EXPECT_EQ(CheckClassSettings(s), "");

  auto with = [&](auto change) {
    PublisherSettings changed = s;
    change(changed);
    return CheckClassSettings(changed);
  };
  EXPECT_EQ(with([](auto& c) { c.FrameRate = 0; }), "config.ini 中 FrameRate=0 无效, 需要 1 到 60");
  EXPECT_EQ(with([](auto& c) { c.ScreenRate = 0; }),
            "config.ini 中 ScreenRate=0 无效, 需要 1 到 100");
  EXPECT_EQ(with([](auto& c) { c.VideoX = -1; }), "config.ini 中 VideoX=-1 无效, 需要 0 或更大");
  EXPECT_EQ(with([](auto& c) { c.VideoHeight = 0; }),
            "config.ini 中 VideoHeight=0 无效, 需要 1 到 7680");
  EXPECT_EQ(with([](auto& c) { c.BitsPerSample = 12; }),
            "config.ini 中 BitsPerSample=12 无效, 需要 8、16、24 或 32");
  EXPECT_EQ(with([](auto& c) { c.ScreenWidth = c.ScreenHeight = 7680; }),
            "config.ini 中 ScreenWidth=7680, ScreenHeight=7680 画面太大, 最多 33177600 像素 "
            "(7680 x 4320)");
  // Portrait screens are fine; a huge inset position is pulled back to the edge later.
  EXPECT_EQ(with([](auto& c) { c.ScreenWidth = 2160, c.ScreenHeight = 3840, c.VideoX = 9999; }),
            "");
}

TEST(SettingsCheckTest, ChecksOnlyWhatThePictureTypeAndSoundUse) {
  PublisherSettings s;  // all zero
  s.FrameRate = 15;
  s.Bitrate = 500;
  s.ScreenWidth = 1280;
  s.ScreenHeight = 720;
  EXPECT_EQ(CheckClassSettings(s), "");  // desktop only, no sound: camera and inset unused
  s.VideoStyle = 1;
  EXPECT_NE(CheckClassSettings(s).find("VideoWidth=0"), std::string::npos);
  s.VideoStyle = 0;
  s.HaveAudio = 1;
  EXPECT_NE(CheckClassSettings(s).find("SamplesPerSec=0"), std::string::npos);

  // A number outside the picture-type list publishes no picture: only the camera size, which
  // the encoder is still given, is checked.
  s.HaveAudio = 0;
  s.ScreenWidth = 0;
  s.VideoX = -1;
  for (int32_t outside : {-1, 4}) {
    s.VideoStyle = outside;
    s.VideoWidth = 640;
    s.VideoHeight = 480;
    EXPECT_EQ(CheckClassSettings(s), "") << outside;
    s.VideoWidth = 0;
    EXPECT_NE(CheckClassSettings(s).find("VideoWidth=0"), std::string::npos) << outside;
  }
}

}  // namespace
}  // namespace quillon
