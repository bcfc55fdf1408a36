#include "launch/settings.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "base/testing/shipped_settings.h"
#include "base/testing/test_folder.h"
#include "launch/profile_file.h"
#include "launch/settings_check.h"
#include "resources/shipped_settings.h"

namespace quillon {
namespace {

class FakeDisplay : public DisplayInfo {
 public:
  std::optional<ScreenSize> size = ScreenSize{1366, 768};
  std::optional<ScreenSize> PrimarySize() const override { return size; }
};

// Every key holds a value of its own, so a key read into another field shows.
const char kConfig[] =
    "[Device]\nVideoStyle=2\nDeviceID=11\nScreenWidth=1280\nScreenHeight=720\nVideoWidth=640\n"
    "VideoHeight=480\nVideoX=8\nVideoY=9\nScreenRate=4\nFrameRate=15\nBitrate=500\nInterval=3\n"
    "Quality=5\nRecord=6\nHaveAudio=7\n[Audio]\nSamplesPerSec=44100\nBitsPerSample=16\n"
    "Chanels=1\n";

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
  EXPECT_EQ(ScrambleAddress("abcd"), "bdfe");
  EXPECT_EQ(DescrambleAddress("bdfe"), "abcd");
  const std::string url = "rtmp://127.0.0.1:10086/encoder/zel/mp4:12345678.mp4&12345678";
  EXPECT_EQ(DescrambleAddress(ScrambleAddress(url)), url);
  // Byte values wrap around, and a byte that becomes zero ends the text.
  EXPECT_EQ(ScrambleAddress("\376a"), "\377c");
  EXPECT_EQ(ScrambleAddress("a\376b"), "b");
  EXPECT_EQ(DescrambleAddress("b\002xyz"), "a");
  EXPECT_EQ(DescrambleAddress(std::string("bd\0fg", 5)), "ab");
}

TEST_F(SettingsTest, ReadsEveryFieldAndHandsTheWindowItsValues) {
  WriteConfig(kConfig, "rtmp://host/live&42");
  ASSERT_TRUE(Read());
  const PublisherSettings& s = *window_.Record;
  EXPECT_EQ(std::tuple(s.VideoStyle, s.DeviceID, s.ScreenWidth, s.ScreenHeight, s.VideoWidth,
                       s.VideoHeight, s.VideoX, s.VideoY, s.ScreenRate, s.FrameRate, s.Bitrate,
                       s.Interval, s.Quality, s.Record, s.HaveAudio, s.SamplesPerSec,
                       s.BitsPerSample, s.Chanels),
            std::tuple(2, 11, 1280, 720, 640, 480, 8, 9, 4, 15, 500, 3, 5, 6, 7, 44100, 16, 1));
  const WindowChoices& c = window_.Choices;
  EXPECT_EQ(std::tuple(c.HaveAudio, c.DeviceID, c.Bitrate, c.VideoStyle),
            std::tuple(7, 11, 500, 2));
  EXPECT_EQ(s.Address, ScrambleAddress("rtmp://host/live&42"));
  EXPECT_TRUE(messages_.shown.empty());

  // A later read refills the same record.
  const PublisherSettings* first = window_.Record.get();
  WriteProfileString(file_, "Device", "FrameRate", "30");
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record.get(), first);
  EXPECT_EQ(window_.Record->FrameRate, 30);
}

// A size no class can use stays as read, so that the check names the value config.ini holds.
TEST_F(SettingsTest, ScreenSizeFallsBackToTheDisplayAndRoundsDownToMultiplesOf4) {
  struct Case {
    bool display;
    const char* lines;
    int32_t width, height;
    const char* problem;  // part of CheckClassSettings' message, "" when a class can run
  } cases[] = {
      {true, "", 1364, 768, ""},  // missing: display size
      {true, "ScreenWidth=0\nScreenHeight=0\n", 1364, 768, ""},
      {true, "ScreenWidth=1023\nScreenHeight=0\n", 1364, 768, ""},  // one zero takes both
      {true, "ScreenWidth=1023\nScreenHeight=770\n", 1020, 768, ""},
      {true, "ScreenWidth=7683\nScreenHeight=4323\n", 7680, 4320, ""},
      {true, "ScreenWidth=3\nScreenHeight=770\n", 3, 770, "ScreenWidth=3 无效"},
      {true, "ScreenWidth=1024\nScreenHeight=-1\n", 1024, -1, "ScreenHeight=-1 无效"},
      {true, "ScreenWidth=8203\nScreenHeight=5002\n", 8203, 5002, "ScreenWidth=8203 无效"},
      {false, "ScreenWidth=1023\n", 1023, 0, "ScreenHeight=0 无效"},  // no display to ask
  };
  for (const Case& c : cases) {
    if (!c.display) display_.size = std::nullopt;
    WriteConfig(std::string("[Device]\nFrameRate=15\nBitrate=500\n") + c.lines, "u&s");
    ASSERT_TRUE(Read());
    EXPECT_EQ(window_.Record->ScreenWidth, c.width) << c.lines;
    EXPECT_EQ(window_.Record->ScreenHeight, c.height) << c.lines;
    const std::string problem = CheckClassSettings(*window_.Record);
    EXPECT_TRUE(*c.problem ? problem.find(c.problem) != std::string::npos : problem.empty())
        << c.lines << problem;
  }
}

// A folder named config.ini stands for any read error: the user hears of it and nothing read
// before is lost (the first read leaves no record to show).
TEST_F(SettingsTest, AnUnreadableFileIsToldAndChangesNothing) {
  std::filesystem::create_directory(file_);
  EXPECT_FALSE(Read());
  EXPECT_EQ(window_.Record, nullptr);
  EXPECT_EQ(messages_.shown, std::vector<std::string>{kSettingsUnreadableMessage});
  std::filesystem::remove(file_);
  WriteConfig(kConfig, "rtmp://host/live&42");
  ASSERT_TRUE(Read());
  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);
  EXPECT_FALSE(Read());
  EXPECT_EQ(window_.Record->FrameRate, 15);
  EXPECT_EQ(window_.StreamName, "42");
  EXPECT_EQ(messages_.shown.size(), 2u);
}

// The stored Address is read up to 99 characters, descrambled and split at its last "&"; one
// without "&" is refused with a message, and the rest of the file is read all the same.
TEST_F(SettingsTest, SplitsTheFirst99CharactersOfTheAddressAtTheLastAmpersand) {
  const std::string url = "rtmp://host/" + std::string(78, 'p');  // 90 characters
  const struct {
    std::string plain;
    bool ok;
    std::string publishUrl, streamName;
  } cases[] = {
      {"rtmp://h/app?a=1&b=2&class7", true, "rtmp://h/app?a=1&b=2", "class7"},
      {"rtmp://h/app&", true, "rtmp://h/app", ""},
      {url + "&" + std::string(20, 's'), true, url, std::string(8, 's')},
      {std::string(100, 'p') + "&s", false, "", std::string(99, 'p')},  // the "&" is cut off
      {"rtmp://host/live", false, "", "rtmp://host/live"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plain);
    messages_.shown.clear();
    WriteConfig("[Device]\nBitrate=500\n", c.plain);
    EXPECT_EQ(Read(), c.ok);
    EXPECT_EQ(window_.Record->PublishUrl, c.publishUrl);
    EXPECT_EQ(window_.StreamName, c.streamName);
    EXPECT_EQ(messages_.shown,
              c.ok ? std::vector<std::string>{} : std::vector<std::string>{"参数有误!"});
    EXPECT_EQ(window_.Record->Bitrate, 500);
    EXPECT_EQ(window_.Choices.Bitrate, 500);
  }
}

// A missing file reads as zeros and reading does not make it. Start-up makes it again: a class
// can run on it at the display's size, the user is told once, and a file that is there (even one
// that cannot be read) is left alone.
TEST_F(SettingsTest, AMissingFileIsMadeAgainFromTheShippedDefault) {
  EXPECT_FALSE(Read());
  EXPECT_EQ(std::tuple(window_.Record->FrameRate, window_.Record->Address,
                       window_.Record->ScreenWidth, std::filesystem::exists(file_)),
            std::tuple(0, "", 1364, false));
  for (int start = 0; start < 2; ++start) EXPECT_TRUE(RestoreMissingSettings(file_, messages_));
  EXPECT_EQ(messages_.shown,
            (std::vector<std::string>{kBadAddressMessage, kSettingsRestoredMessage}));
  EXPECT_EQ(TestFolder::Read(file_), std::string(ShippedSettingsText()));
  WriteProfileString(file_, "Device", "Address", ScrambleAddress("rtmp://h/live&1"));
  ASSERT_TRUE(Read());
  EXPECT_EQ(window_.Record->ScreenWidth, 1364);
  EXPECT_EQ(CheckClassSettings(*window_.Record), "");
  EXPECT_EQ(CheckSoundSettings(*window_.Record), "");

  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);
  EXPECT_TRUE(RestoreMissingSettings(file_, messages_));
  EXPECT_TRUE(std::filesystem::is_directory(file_));
  EXPECT_EQ(messages_.shown.size(), 2u);
}

// Only the changed choices are written. A read-only config.ini keeps every byte; the user is told
// once, not at every start of a class.
TEST_F(SettingsTest, WriteBackRewritesOnlyTheChangedChoicesAndTellsOnceWhenItCannot) {
  WriteConfig(kConfig, "rtmp://host/live&42");
  ASSERT_TRUE(Read());
  const std::string before = TestFolder::Read(file_);
  WriteBackSettings(window_, file_);
  EXPECT_EQ(TestFolder::Read(file_), before);

  namespace fs = std::filesystem;
  fs::permissions(file_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  window_.Choices.Bitrate = 800;
  window_.Choices.DeviceID = -1;
  ChoiceWriter writer(messages_);
  writer.WriteBack(window_, file_);
  writer.WriteBack(window_, file_);
  EXPECT_EQ(TestFolder::Read(file_), before);
  EXPECT_EQ(messages_.shown, std::vector<std::string>{kSettingsNotSavedMessage});
  fs::permissions(file_, fs::perms::owner_write, fs::perm_options::add);
  writer.WriteBack(window_, file_);
  std::string expected = before;
  expected.replace(expected.find("Bitrate=500"), 11, "Bitrate=800");
  expected.replace(expected.find("DeviceID=11"), 11, "DeviceID=-1");
  EXPECT_EQ(TestFolder::Read(file_), expected);
  EXPECT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(window_.Record->Bitrate, 500);  // the record waits for the next read
}

// All zero but what a class of the desktop alone needs.
PublisherSettings DesktopOnly() {
  PublisherSettings s;
  s.FrameRate = 15, s.Bitrate = 500, s.ScreenWidth = 1280, s.ScreenHeight = 720;
  return s;
}

TEST(SettingsCheckTest, ShippedValuesCanRunAClass) {
  PublisherSettings s = ShippedSettings();
  s.VideoStyle = 2;
  EXPECT_EQ(CheckClassSettings(s), "");

  // Each check once, with the bounds of the key as the message tells them: only what would
  // divide by zero, reach past a picture or be refused by the encoder.
  const std::pair<void (*)(PublisherSettings&), std::string> cases[] = {
      {[](auto& c) { c.FrameRate = 0; }, "FrameRate=0 无效, 需要 1 到 120"},
      {[](auto& c) { c.FrameRate = 120; }, ""},
      {[](auto& c) { c.Bitrate = 0; }, "Bitrate=0 无效, 需要 1 或更大"},
      {[](auto& c) { c.ScreenRate = 0; }, "ScreenRate=0 无效, 需要 1 到 720"},
      {[](auto& c) { c.ScreenRate = 720; }, ""},  // a 1-pixel-high inset
      {[](auto& c) { c.VideoX = -1; }, "VideoX=-1 无效, 需要 0 或更大"},
      {[](auto& c) { c.VideoHeight = 0; }, "VideoHeight=0 无效, 需要 1 到 8192"},
      {[](auto& c) { c.VideoWidth = c.VideoHeight = 1; }, ""},  // an inset only: 1 x 1 will do
      {[](auto& c) { c.VideoStyle = 3, c.VideoHeight = 1; }, "VideoHeight=1 无效, 需要 2 到 8192"},
      {[](auto& c) { c.VideoStyle = 3, c.ScreenRate = 481; }, "ScreenRate=481 无效, 需要 1 到 480"},
      {[](auto& c) { c.ScreenWidth = 8196; }, "ScreenWidth=8196 无效, 需要 4 到 8192"},
      {[](auto& c) { c.BitsPerSample = 12, c.SamplesPerSec = 0; }, ""},  // runs without sound
      // Portrait and very large screens are fine; a huge inset position is pulled back later.
      {[](auto& c) { c.ScreenWidth = 2160, c.ScreenHeight = 3840, c.VideoX = 9999; }, ""},
      {[](auto& c) { c.ScreenWidth = c.ScreenHeight = 8192; }, ""},
      // The whole display with no display to ask: the shared monitor's size is checked at start,
      // ScreenRate only for being at least 1; a zero set in config.ini is still refused.
      {[](auto& c) { c.ScreenFollowsDisplay = true, c.ScreenWidth = c.ScreenHeight = 0; }, ""},
      {[](auto& c) {
         c.ScreenFollowsDisplay = true, c.ScreenWidth = c.ScreenHeight = 0, c.ScreenRate = 5000;
       },
       ""},
      {[](auto& c) {
         c.ScreenFollowsDisplay = true, c.ScreenWidth = c.ScreenHeight = 0, c.ScreenRate = 0;
       },
       "ScreenRate=0 无效, 需要 1 或更大"},
      {[](auto& c) { c.ScreenFollowsDisplay = true, c.ScreenWidth = 1024, c.ScreenHeight = 0; },
       "ScreenHeight=0 无效, 需要 4 到 8192"},
      {[](auto& c) { c.ScreenWidth = c.ScreenHeight = 0; }, "ScreenWidth=0 无效, 需要 4 到 8192"},
      // Only what the picture type uses is checked: no camera or inset for the desktop alone;
      // sound that cannot be had leaves the class without it.
      {[](auto& c) { c = DesktopOnly(), c.HaveAudio = 1; }, ""},
      {[](auto& c) { c = DesktopOnly(), c.VideoStyle = 1; }, "VideoWidth=0 无效, 需要 2 到 8192"},
      // A number outside the picture-type list publishes no picture: only the camera size, which
      // the encoder is still given, is checked.
      {[](auto& c) { c.VideoStyle = -1, c.ScreenWidth = 0, c.VideoX = -1; }, ""},
      {[](auto& c) { c.VideoStyle = 4, c.ScreenWidth = 0, c.VideoX = -1; }, ""},
      {[](auto& c) { c.VideoStyle = -1, c.VideoWidth = 0; }, "VideoWidth=0 无效, 需要 2 到 8192"},
      {[](auto& c) { c.VideoStyle = 4, c.VideoWidth = 0; }, "VideoWidth=0 无效, 需要 2 到 8192"},
  };
  for (const auto& [change, message] : cases) {
    PublisherSettings changed = s;
    change(changed);
    EXPECT_EQ(CheckClassSettings(changed), message.empty() ? "" : "config.ini 中 " + message);
  }
}

TEST(SettingsCheckTest, SoundNamesTheFirstKeyItCannotUse) {
  const std::pair<void (*)(PublisherSettings&), std::string> cases[] = {
      {[](auto&) {}, ""},
      {[](auto& c) { c.SamplesPerSec = 48000, c.BitsPerSample = 8, c.Chanels = 1; }, ""},
      {[](auto& c) { c.SamplesPerSec = c.BitsPerSample = c.Chanels = 0; },  // no [Audio]
       "SamplesPerSec=0 不能用于声音, 需要 8000 到 96000 之间的标准采样率 (如 44100 或 48000)"},
      {[](auto& c) { c.BitsPerSample = 12; }, "BitsPerSample=12 不能用于声音, 需要 8 或 16"},
      {[](auto& c) { c.BitsPerSample = 24; }, "BitsPerSample=24 不能用于声音, 需要 8 或 16"},
      {[](auto& c) { c.Chanels = 3; }, "Chanels=3 不能用于声音, 需要 1 或 2"},
  };
  for (const auto& [change, message] : cases) {
    PublisherSettings changed = ShippedSettings();
    change(changed);
    EXPECT_EQ(CheckSoundSettings(changed),
              message.empty() ? "" : "config.ini 中 " + message + "。这节课不发送声音。");
  }
}

}  // namespace
}  // namespace quillon
