#include "launch/launch_url.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "base/ansi_text.h"
#include "base/testing/test_folder.h"
#include "launch/class_address.h"
#include "launch/profile_file.h"
#include "launch/settings.h"

namespace quillon {
namespace {

const std::string kPrefix = "quillon.publish://";

TEST(DecodeUrlEscapesTest, DecodesOnlyPercentWithTwoHexDigits) {
  EXPECT_EQ(DecodeUrlEscapes("a%41%62%7e%7E"), "aAb~~");
  EXPECT_EQ(DecodeUrlEscapes("%26%2f+%20"), "&/+ ");
  EXPECT_EQ(DecodeUrlEscapes("%zz%4g%%41"), "%zz%4g%A");
  EXPECT_EQ(DecodeUrlEscapes("ab%4"), "ab%4");  // "%" among the last two characters stays
  EXPECT_EQ(DecodeUrlEscapes("ab%"), "ab%");
  EXPECT_EQ(DecodeUrlEscapes("%ff%00x"), std::string("\xFF\0x", 3));
}

#ifdef _WIN32
// The system's own conversion of wide text into its ANSI code page.
std::string SystemAnsi(const std::wstring& wide) {
  const int size = static_cast<int>(wide.size());
  std::string ansi(static_cast<std::size_t>(size) * 4, '\0');
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(),
                                         static_cast<int>(ansi.size()), "?", nullptr);
  ansi.resize(static_cast<std::size_t>(length));
  return ansi;
}

TEST(Utf8ToAnsiTest, TextComesOutInTheSystemCodePage) {
  EXPECT_EQ(Utf8ToAnsi("rtmp://课堂/直播&1"), SystemAnsi(L"rtmp://课堂/直播&1"));
  EXPECT_EQ(Utf8ToAnsi("plain ASCII"), "plain ASCII");
  EXPECT_EQ(Utf8ToAnsi(""), "");
  EXPECT_EQ(Utf8ToAnsi("a\200b"), "a?b");
  EXPECT_EQ(Utf8ToAnsi("\377"), "?");
}
#else
TEST(Utf8ToAnsiTest, ValidTextPassesAndEachInvalidSequenceBecomesAQuestionMark) {
  EXPECT_EQ(Utf8ToAnsi("rtmp://课堂/直播&1"), "rtmp://课堂/直播&1");
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToAnsi("a\200b"), "a?b");    // stray continuation byte
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");   // overlong "/"
  EXPECT_EQ(Utf8ToAnsi("\344\270A"), "?A");  // cut short: one mark for it
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8"), "?");
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");       // surrogate
  EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "????");  // above U+10FFFF
  EXPECT_EQ(Utf8ToAnsi("\xFF\xFE"), "??");
}
#endif

class LaunchUrlTest : public ::testing::Test {
 protected:
  // The Address that the launch URL stores, or nullopt when it stores nothing.
  std::optional<std::string> Stored(const std::string& argument) {
    std::filesystem::remove(file_);
    if (!HandleLaunchUrl(argument, file_)) {
      EXPECT_FALSE(std::filesystem::exists(file_));
      return std::nullopt;
    }
    return LoadProfile(file_).Find("Device", "Address");
  }

  TestFolder folder_;
  std::filesystem::path file_ = folder_ / "config.ini";
};

// The first 18 characters are skipped unchecked; of the rest the first 511 bytes are decoded,
// cut at a zero byte, converted to the code page and cut at the last "&" less one trailing "/".
TEST_F(LaunchUrlTest, StoresTheTextBeforeTheLastAmpersand) {
  const std::string a500(500, 'a'), a508(508, 'a');
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {kPrefix + "sdfnq&tail/with/slashes", "sdfnq"},
      {kPrefix + "sdfnq//&tail", "sdfnq/"},  // only one "/" is dropped
      {kPrefix + "a&b&c", "a&b"},
      {kPrefix + "a%26b%2F%26c", "a&b"},  // escapes are decoded before the search
      {kPrefix + "no-ampersand", ""},
      {kPrefix + "a&b%00&c", "a"},  // a zero byte ends the text
      {kPrefix + "ab%00&c", ""},
      {kPrefix + "%E8%AF%BE&x", Utf8ToAnsi("课")},  // stored in the code page
      {kPrefix + "%C0ab%FF&x", "?ab?"},
      {"http://example.orgABC&D", "ABC"},
      {kPrefix, ""},
      {"ab", ""},  // 2 to 17 characters: an empty Address
      {"x", std::nullopt},
      {"", std::nullopt},
      {kPrefix + a500 + "&" + std::string(100, 'z'), a500},
      {kPrefix + std::string(511, 'a') + "&z", ""},  // the "&" at byte 512 is cut off
      {kPrefix + a508 + "&%41&b", a508},  // cut before decoding: "%4" stays, "&b" is gone
  };
  for (const auto& [argument, address] : cases) EXPECT_EQ(Stored(argument), address) << argument;
}

TEST_F(LaunchUrlTest, AFastClassStoresTheClassAndTellsItsNumber) {
  ASSERT_TRUE(SetTestEnvironment("QUILLON_DEFAULT_SERVER", "rtmp.school.test"));
  RecordedMessages messages;
  std::set<std::string> numbers;
  for (int i = 0; i < 3; ++i) {
    StartFastClass(messages, file_);
    const auto stored = LoadProfile(file_).Find("Device", "Address");
    ASSERT_TRUE(stored);
    std::string publish_url, number;
    ASSERT_TRUE(SplitAddress(DescrambleAddress(*stored), publish_url, number));
    EXPECT_EQ(publish_url, "rtmp://rtmp.school.test:10086/encoder/zel/mp4:" + number + ".mp4");
    ASSERT_FALSE(number.empty());
    ASSERT_LE(number.size(), 8u);
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << number;
    EXPECT_TRUE(number == "0" || number[0] != '0') << number;
    EXPECT_EQ(messages.shown.size(), static_cast<std::size_t>(i + 1));
    EXPECT_EQ(messages.shown.back(),
              "您使用的是【极速开课模式】, 系统已经自动为您开通了网络课堂, 课堂ID是" + number +
                  ", 请在软件界面左上方点击【上课】按钮, 然后邀请更多人参加你的课堂.");
    numbers.insert(number);
  }
  EXPECT_GT(numbers.size(), 1u);  // two equal draws in a row happen once in 10^8

  ASSERT_TRUE(SetTestEnvironment("QUILLON_DEFAULT_SERVER", nullptr));
  EXPECT_EQ(DefaultServerHost(), QUILLON_DEFAULT_SERVER);
}

// The address a link or a fast class stores replaces only the old one in config.ini. One that
// cannot be stored says why and leaves config.ini as it is: the window would otherwise publish to
// the old class as if it were the new one.
class StoredAddressTest : public LaunchUrlTest {
 protected:
  void SetUp() override { TestFolder::Write(file_, before_); }
  const std::string before_ = "[Device]\r\nAddress=old\r\nBitrate=500\r\n";
  RecordedMessages messages_;
};

TEST_F(StoredAddressTest, AFileThatCannotBeWrittenOrReadStoresNothingAndSaysSo) {
  namespace fs = std::filesystem;
  fs::permissions(file_, fs::perms::owner_read);
  RecordedMessages problems;
  EXPECT_EQ(StoreLaunchUrl(kPrefix + "new&x", file_, messages_), LaunchUrlResult::kNotSaved);
  EXPECT_FALSE(StartFastClass(messages_, file_, &problems));
  EXPECT_EQ(TestFolder::Read(file_), before_);
  EXPECT_EQ(messages_.shown, std::vector<std::string>{kSettingsNotSavedMessage});
  EXPECT_EQ(problems.shown, std::vector<std::string>{kSettingsNotSavedMessage});

  fs::permissions(file_, fs::perms::owner_all);
  fs::remove(file_);
  fs::create_directory(file_);
  EXPECT_FALSE(TakeClassAddress("", folder_.path(), messages_));
  EXPECT_EQ(messages_.shown.back(), kSettingsUnreadableMessage);
}

// A link handed to a window that runs: one that names no class would leave the window without a
// usable address, so it is refused.
TEST_F(StoredAddressTest, AWindowThatRunsKeepsAUsableAddress) {
  EXPECT_FALSE(TakeClassAddress(kPrefix + "bcd/&tail", folder_.path(), messages_));
  EXPECT_EQ(TestFolder::Read(file_), before_);
  EXPECT_EQ(messages_.shown, std::vector<std::string>{"参数有误!"});

  const std::string address = ScrambleAddress("rtmp://h/live&42");
  EXPECT_TRUE(TakeClassAddress(kPrefix + address + "/&tail", folder_.path(), messages_));
  EXPECT_EQ(TestFolder::Read(file_), "[Device]\r\nAddress=" + address + "\r\nBitrate=500\r\n");
  EXPECT_TRUE(TakeClassAddress("", folder_.path(), messages_));  // a fast class
  EXPECT_NE(LoadProfile(file_).Find("Device", "Address"), address);
  EXPECT_EQ(messages_.shown.size(), 2u);
}

}  // namespace
}  // namespace quillon
