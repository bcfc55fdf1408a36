#include "launch/profile_file.h"

#include <gtest/gtest.h>

#include "base/testing/test_folder.h"

namespace quillon {
namespace {

TEST(ProfileTextTest, FindsValuesAsTheWindowsProfileFunctionsDo) {
  const ProfileText text(
      "; a comment=with an equals sign\r\n"
      "Orphan=before any section\r\n"
      "[ device ]\r\n"
      "  videoWIDTH  =  640  \r\n"
      "Quoted=\"  spaced  \"\r\n"
      "Half=\"open\r\n"
      "NoEquals\r\n"
      "Empty=\r\n"
      ";Bitrate=1\r\n"
      "[Audio]\r\n"
      "Chanels=2\r\n"
      "[Device]\r\n"
      "Bitrate=500\r\n");
  EXPECT_EQ(text.Find("Device", "VideoWidth"), "640");
  EXPECT_EQ(text.Find("DEVICE", "quoted"), "  spaced  ");
  EXPECT_EQ(text.Find("Device", "Half"), "\"open");
  EXPECT_EQ(text.Find("Device", "Empty"), "");
  EXPECT_EQ(text.Find("Audio", "Chanels"), "2");
  EXPECT_EQ(text.Find("Device", "NoEquals"), std::nullopt);
  EXPECT_EQ(text.Find("Device", "Orphan"), std::nullopt);
  // Commented out, and only the first [Device] section is searched.
  EXPECT_EQ(text.Find("Device", "Bitrate"), std::nullopt);
  EXPECT_EQ(text.Find("Video", "VideoWidth"), std::nullopt);
}

TEST(ProfileTextTest, TextDefaultAndBufferCapacity) {
  const ProfileText text("[Device]\nAddress=0123456789\nNul=ab\0cd\n");
  EXPECT_EQ(text.GetString("Device", "Address", "x", 100), "0123456789");
  EXPECT_EQ(text.GetString("Device", "Address", "x", 5), "0123");
  EXPECT_EQ(text.GetString("Device", "Address", "x", 0), "");
  EXPECT_EQ(text.GetString("Device", "Missing", "fallback", 100), "fallback");
  EXPECT_EQ(text.GetString("Device", "Missing", "fallback", 4), "fal");
  EXPECT_EQ(text.GetString("Device", "Nul", "", 100), "ab");
}

TEST(ProfileTextTest, IntegersTakeTheLeadingSignedNumber) {
  const ProfileText text(
      "[Device]\nA=1366\nB=-12px\nC=+7\nD=px12\nE=\nF=99999999999\nG=-99999999999\n"
      "H=2147483647\nI=-2147483648\n");
  // E: present but empty is 0, not the default; F to I: held at the ends of the 32-bit range.
  const std::pair<const char*, int32_t> cases[] = {
      {"A", 1366},    {"B", -12},       {"C", 7},         {"D", 0},         {"E", 0},
      {"Missing", 5}, {"F", INT32_MAX}, {"G", INT32_MIN}, {"H", INT32_MAX}, {"I", INT32_MIN}};
  for (const auto& [key, value] : cases) EXPECT_EQ(text.GetInt("Device", key, 5), value) << key;
}

// Set changes only the value of the key's line, or adds the key at the end of its section or the
// section at the end, with the text's own line ends; a value ends at a line end or a zero byte.
TEST(ProfileTextTest, SetChangesOrAddsOneLine) {
  const struct {
    const char *before, *section, *key;
    std::string value;
    const char* after;
  } cases[] = {
      {"; teacher's notes\r\n[Device]\r\nbitrate = 500   \r\n\r\n[Audio]\r\nBitrate=9\r\n",
       "DEVICE", "Bitrate", "800",
       "; teacher's notes\r\n[Device]\r\nbitrate = 800\r\n\r\n[Audio]\r\nBitrate=9\r\n"},
      {"[Device]\nVideoStyle=0\n\n; audio\n[Audio]\nChanels=2", "Device", "Address", "abc",
       "[Device]\nVideoStyle=0\nAddress=abc\n\n; audio\n[Audio]\nChanels=2"},
      {"[Audio]\nChanels=2", "Audio", "BitsPerSample", "16",
       "[Audio]\nChanels=2\nBitsPerSample=16\n"},
      {"[Audio]\nChanels=2\n", "New", "Key", "v", "[Audio]\nChanels=2\n[New]\nKey=v\n"},
      {"[Audio]\r\nChanels=2\r\n", "Device", "Address", "x",
       "[Audio]\r\nChanels=2\r\n[Device]\r\nAddress=x\r\n"},
      {"\xEF\xBB\xBF[Device]\nA=1\n", "Device", "A", "2", "\xEF\xBB\xBF[Device]\nA=2\n"},
      {"[Device]\nAddress=old\nFrameRate=15\n", "Device", "Address", "abc\r\nFrameRate=0",
       "[Device]\nAddress=abc\nFrameRate=15\n"},
      {"[Device]\nAddress=old\n", "Device", "Address", std::string("x\0y", 3),
       "[Device]\nAddress=x\n"},
  };
  for (const auto& c : cases) {
    ProfileText text(c.before);
    text.Set(c.section, c.key, c.value);
    EXPECT_EQ(text.Bytes(), c.after) << c.before;
  }
  ProfileText empty;
  empty.Set("Device", "Address", "x");
  EXPECT_EQ(empty.Find("Device", "Address"), "x");
}

// How the file is replaced (links, permission bits, failures) is ReplaceFileAtomically's, tested
// beside it.
TEST(ProfileFileTest, ReadingNeverCreatesTheFileAndWritingKeepsItsLineEnds) {
  TestFolder folder;
  const auto file = folder / "config.ini";
  EXPECT_EQ(LoadProfile(file).Bytes(), "");
  EXPECT_FALSE(std::filesystem::exists(file));
  ASSERT_TRUE(WriteProfileString(file, "Device", "Address", "abc"));
#ifdef _WIN32
  EXPECT_EQ(TestFolder::Read(file),
            "[Device]\r\nAddress=abc\r\n");  // a new file has the system's line ends
#else
  EXPECT_EQ(TestFolder::Read(file), "[Device]\nAddress=abc\n");
#endif

  TestFolder::Write(file, "[Device]\r\nAddress=abc\r\nBitrate=500\r\n");
  ASSERT_TRUE(WriteProfileString(file, "device", "ADDRESS", "xyz"));
  EXPECT_EQ(TestFolder::Read(file), "[Device]\r\nAddress=xyz\r\nBitrate=500\r\n");

  EXPECT_FALSE(WriteProfileString(folder / "missing" / "config.ini", "Device", "A", "1"));
}

}  // namespace
}  // namespace quillon
