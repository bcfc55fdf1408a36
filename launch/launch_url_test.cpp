#include "launch/launch_url.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "base/ansi_text.h"
#include "base/testing/test_folder.h"
#include "launch/profile_file.h"

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
  EXPECT_EQ(Utf8ToAnsi("a\x80"
                       "b"),
            "a?b");
  EXPECT_EQ(Utf8ToAnsi("\xFF"), "?");
}
#else
TEST(Utf8ToAnsiTest, ValidTextPassesAndEachInvalidSequenceBecomesAQuestionMark) {
  EXPECT_EQ(Utf8ToAnsi("rtmp://课堂/直播&1"), "rtmp://课堂/直播&1");
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToAnsi("a\x80"
                       "b"),
            "a?b");                         // stray continuation byte
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");  // overlong "/"
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8"
                       "A"),
            "?A");  // cut short: one mark for the started part
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

TEST_F(LaunchUrlTest, StoresTheTextBeforeTheLastAmpersand) {
  EXPECT_EQ(Stored(kPrefix + "sdfnq&tail/with/slashes"), "sdfnq");
  EXPECT_EQ(Stored(kPrefix + "sdfnq//&tail"), "sdfnq/");  // only one "/" is dropped
  EXPECT_EQ(Stored(kPrefix + "a&b&c"), "a&b");
  EXPECT_EQ(Stored(kPrefix + "a%26b%2F%26c"), "a&b");  // escapes are decoded before the search
  EXPECT_EQ(Stored(kPrefix + "no-ampersand"), "");
  EXPECT_EQ(Stored(kPrefix + "a&b%00&c"), "a");  // a zero byte ends the text
  EXPECT_EQ(Stored(kPrefix + "ab%00&c"), "");
  EXPECT_EQ(Stored(kPrefix + "%E8%AF%BE&x"), Utf8ToAnsi("课"));  // stored in the code page
  EXPECT_EQ(Stored(kPrefix + "%C0ab%FF&x"), "?ab?");
}

TEST_F(LaunchUrlTest, TheFirst18CharactersAreSkippedUnchecked) {
  EXPECT_EQ(Stored("http://example.orgABC&D"), "ABC");
  EXPECT_EQ(Stored(kPrefix), "");
  EXPECT_EQ(Stored("ab"), "");  // 2 to 17 characters: an empty Address
  EXPECT_EQ(Stored("x"), std::nullopt);
  EXPECT_EQ(Stored(""), std::nullopt);
}

TEST_F(LaunchUrlTest, PayloadIsCutAt511Bytes) {
  const std::string address(500, 'a');
  EXPECT_EQ(Stored(kPrefix + address + "&" + std::string(100, 'z')), address);
  // The "&" at byte 512 of the payload is cut off with the rest.
  EXPECT_EQ(Stored(kPrefix + std::string(511, 'a') + "&z"), "");
  // Cut before decoding: an escape straddling the limit stays undecoded.
  EXPECT_EQ(Stored(kPrefix + std::string(508, 'a') + "&%41b"), std::string(508, 'a'));
}

TEST_F(LaunchUrlTest, KeepsTheRestOfTheSettingsFile) {
  TestFolder::Write(file_, "[Device]\r\nAddress=old\r\nBitrate=500\r\n");
  ASSERT_TRUE(HandleLaunchUrl(kPrefix + "new&x", file_));
  EXPECT_EQ(TestFolder::Read(file_), "[Device]\r\nAddress=new\r\nBitrate=500\r\n");
}

TEST(FastClassTest, MessageAndAddress) {
  EXPECT_EQ(FastClassMessage("123456"),
            "您使用的是【极速开课模式】, 系统已经自动为您开通了网络课堂, 课堂ID是123456, "
            "请在软件界面左上方点击【上课】按钮, 然后邀请更多人参加你的课堂.");
  EXPECT_EQ(FastClassAddress("h", "42"), "rtmp://h:10086/encoder/zel/mp4:42.mp4&42");
}

TEST(FastClassTest, StoresTheClassAndTellsItsNumber) {
  TestFolder folder;
  const auto file = folder / "config.ini";
  ASSERT_TRUE(SetTestEnvironment("QUILLON_DEFAULT_SERVER", "rtmp.school.test"));
  RecordedMessages messages;
  std::set<std::string> numbers;
  for (int i = 0; i < 3; ++i) {
    StartFastClass(messages, file);
    ASSERT_EQ(messages.shown.size(), static_cast<std::size_t>(i + 1));
    const std::string& message = messages.shown.back();
    const std::string before = "课堂ID是";
    const std::size_t begin = message.find(before) + before.size();
    const std::string number = message.substr(begin, message.find(',', begin) - begin);
    ASSERT_FALSE(number.empty());
    ASSERT_LE(number.size(), 8u);
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << number;
    EXPECT_TRUE(number == "0" || number[0] != '0') << number;
    EXPECT_EQ(message, FastClassMessage(number));

    const auto stored = LoadProfile(file).Find("Device", "Address");
    ASSERT_TRUE(stored);
    std::string publish_url, stream_name;
    ASSERT_TRUE(SplitAddress(DescrambleAddress(*stored), publish_url, stream_name));
    EXPECT_EQ(publish_url, "rtmp://rtmp.school.test:10086/encoder/zel/mp4:" + number + ".mp4");
    EXPECT_EQ(stream_name, number);
    numbers.insert(number);
  }
  EXPECT_GT(numbers.size(), 1u);  // two equal draws in a row happen once in 10^8

  ASSERT_TRUE(SetTestEnvironment("QUILLON_DEFAULT_SERVER", nullptr));
  EXPECT_EQ(DefaultServerHost(), QUILLON_DEFAULT_SERVER);
}

}  // namespace
}  // namespace quillon
