#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/testing/test_folder.h"
#include "launch/class_address.h"
#include "launch/profile_file.h"
#include "launch/settings.h"
#include "launch/url_protocol.h"
#include "launch/url_protocol_xdg.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// That xdg-mime reads what is written is checked end to end by tests/window_e2e.sh.
// HOME and the XDG folders inside a fresh temporary folder for the test's duration.
class UserFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", (root_ / "home").c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }
  TestFolder folder_;
  const fs::path& root_ = folder_.path();
};

TEST(DesktopExecProgramTest, QuotesOnlyWhatNeedsItAndEscapesForTheKeyValue) {
  EXPECT_EQ(DesktopExecProgram("/opt/quillon/quillon-publisher"), "/opt/quillon/quillon-publisher");
  EXPECT_EQ(DesktopExecProgram("/home/li lei/bin/q"), "\"/home/li lei/bin/q\"");
  // Inside quotes " ` $ \ get a backslash; the value escaping then doubles every backslash.
  EXPECT_EQ(DesktopExecProgram("/a\"b$c`d\\e"), "\"/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e\"");
  EXPECT_EQ(DesktopExecProgram("/50%/q"), "/50%%/q");
  EXPECT_EQ(DesktopExecProgram("/a\nb"), "\"/a\\nb\"");
}

TEST(SetDefaultHandlerTest, ReplacesOnlyTheSchemeLineAndKeepsTheRest) {
  const std::string before =
      "[Added Associations]\n"
      "x-scheme-handler/quillon.publish=old.desktop;\n"
      "[Default Applications]\n"
      "text/html=firefox.desktop;\n"
      "x-scheme-handler/quillon.publish = old.desktop;\n"
      "image/png=eog.desktop;\n";
  EXPECT_EQ(SetDefaultHandler(before, kSchemeMimeType, "new.desktop"),
            "[Added Associations]\n"
            "x-scheme-handler/quillon.publish=old.desktop;\n"
            "[Default Applications]\n"
            "x-scheme-handler/quillon.publish=new.desktop;\n"
            "text/html=firefox.desktop;\n"
            "image/png=eog.desktop;\n");
  EXPECT_EQ(SetDefaultHandler("", kSchemeMimeType, "new.desktop"),
            "[Default Applications]\nx-scheme-handler/quillon.publish=new.desktop;\n");
  EXPECT_EQ(
      SetDefaultHandler("[Other]\na=b\n", kSchemeMimeType, "n.desktop"),
      "[Other]\na=b\n\n[Default Applications]\nx-scheme-handler/quillon.publish=n.desktop;\n");
}

TEST_F(UserFolders, WritesEntryAndDefaultUnderHomeOrTheXdgFoldersAndRewritesForAnotherCopy) {
  const fs::path entry = root_ / "home/.local/share/applications" / kDesktopFileName;
  ASSERT_TRUE(RegisterSchemeHandler("/srv/first copy/quillon-publisher"));
  std::string text = TestFolder::Read(entry);
  EXPECT_NE(text.find("Exec=\"/srv/first copy/quillon-publisher\" %u\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("MimeType=x-scheme-handler/quillon.publish;\n"), std::string::npos);

  ASSERT_TRUE(RegisterSchemeHandler("/srv/second/quillon-publisher"));
  text = TestFolder::Read(entry);
  EXPECT_NE(text.find("Exec=/srv/second/quillon-publisher %u\n"), std::string::npos) << text;
  EXPECT_EQ(
      TestFolder::Read(root_ / "home/.config/mimeapps.list"),
      "[Default Applications]\nx-scheme-handler/quillon.publish=quillon-publisher.desktop;\n");

  setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  ASSERT_TRUE(RegisterSchemeHandler("/opt/q/quillon-publisher"));
  EXPECT_TRUE(fs::exists(root_ / "data/applications" / kDesktopFileName));
  EXPECT_TRUE(fs::exists(root_ / "config/mimeapps.list"));
}

// Registration failing (a file where the folders should be) stops nothing: the program folder
// becomes current and the address goes into the given program folder all the same.
TEST_F(UserFolders, UnwritableFoldersStopNeitherTheProgramFolderNorTheAddress) {
  std::ofstream(root_ / "home") << "not a folder";
  const fs::path before = fs::current_path();
  const fs::path programFolder = root_ / "program";
  fs::create_directory(programFolder);
  fs::current_path(root_);
  RecordedMessages messages;
  PrepareClassAddress("quillon.publish://stored&1", programFolder, messages);
  EXPECT_EQ(fs::current_path(), fs::read_symlink("/proc/self/exe").parent_path());
  EXPECT_EQ(LoadProfile(programFolder / "config.ini").Find("Device", "Address"), "stored");
  PrepareClassAddress("", programFolder, messages);  // a fast class
  EXPECT_NE(LoadProfile(programFolder / "config.ini").Find("Device", "Address"), "stored");
  // The empty program folder got the default config.ini first, and said so; then the class number.
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0], kSettingsRestoredMessage);
  fs::current_path(before);
}

}  // namespace
}  // namespace quillon
