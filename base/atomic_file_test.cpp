#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/testing/test_folder.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Entries(const fs::path& folder) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

TEST(ReplaceFileAtomicallyTest, WritesOrReplacesTheWholeFileKeepingItsPermissions) {
  TestFolder folder;
  const fs::path file = folder / "config.ini";
  ASSERT_TRUE(ReplaceFileAtomically(file, "[Device]\nAddress=a longer first value\n"));
  EXPECT_EQ(TestFolder::Read(file), "[Device]\nAddress=a longer first value\n");

  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string shorter("[Device]\r\nA=\0b\r\n", 16);  // every byte passes unchanged
  ASSERT_TRUE(ReplaceFileAtomically(file, shorter));
  EXPECT_EQ(TestFolder::Read(file), shorter);
#ifndef _WIN32  // Windows keeps no such permission bits
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  // A file made read-only stays as it is, whoever runs the program (root too, on Linux).
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(ReplaceFileAtomically(file, "[Device]\r\nA=2\r\n"));
  EXPECT_EQ(TestFolder::Read(file), shorter);
  EXPECT_EQ(Entries(folder.path()), std::vector<fs::path>{"config.ini"});
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_TRUE(ReplaceFileAtomically(file, "[Device]\r\nA=2\r\n"));
}

#ifndef _WIN32  // symbolic links need a privilege on Windows
TEST(ReplaceFileAtomicallyTest, ALinkStaysAndTheFileItPointsAtIsReplaced) {
  TestFolder folder;
  TestFolder::Write(folder / "real.ini", "[Device]\nA=1\n");
  fs::create_symlink("real.ini", folder / "config.ini");
  ASSERT_TRUE(ReplaceFileAtomically(folder / "config.ini", "[Device]\nA=2\n"));
  EXPECT_TRUE(fs::is_symlink(folder / "config.ini"));
  EXPECT_EQ(TestFolder::Read(folder / "real.ini"), "[Device]\nA=2\n");
}
#endif

TEST(ReplaceFileAtomicallyTest, FailureLeavesWhatWasThereAndNoTemporary) {
  TestFolder folder;
  // A missing folder is not made.
  EXPECT_FALSE(ReplaceFileAtomically(folder / "missing" / "config.ini", "x"));
  EXPECT_TRUE(fs::is_empty(folder.path()));
  // The temporary file is written, but cannot replace a folder of the same name.
  fs::create_directory(folder / "config.ini");
  TestFolder::Write(folder / "config.ini" / "inside", "kept");
  EXPECT_FALSE(ReplaceFileAtomically(folder / "config.ini", "x"));
  EXPECT_EQ(Entries(folder.path()), std::vector<fs::path>{"config.ini"});
  EXPECT_EQ(TestFolder::Read(folder / "config.ini" / "inside"), "kept");
}

// Reading never throws: a folder of the name fails with the reason, as any read error would.
TEST(ReadWholeFileTest, ReadsEveryByteTellsAMissingFileAndFailsOnAFolder) {
  TestFolder folder;
  const std::string bytes("[Device]\r\nA=\0\xff\n", 14);
  TestFolder::Write(folder / "config.ini", bytes);
  std::string read = "stale", why;
  EXPECT_EQ(ReadWholeFile(folder / "config.ini", read, why), FileRead::kRead);
  EXPECT_EQ(read, bytes);

  read = "stale";
  EXPECT_EQ(ReadWholeFile(folder / "missing.ini", read, why), FileRead::kMissing);
  EXPECT_EQ(read, "");

  fs::create_directory(folder / "folder.ini");
  read = "stale";
  EXPECT_EQ(ReadWholeFile(folder / "folder.ini", read, why), FileRead::kFailed);
  EXPECT_EQ(read, "");
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace quillon
