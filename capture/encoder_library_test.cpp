#include "capture/encoder_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "base/program_folder.h"

namespace quillon {
namespace {

// All six functions and the optional one, from a folder with a Chinese name and spaces.
TEST(EncoderLibraryTest, LoadsItsFunctionsFromAFolderWithAChineseNameAndSpaces) {
  namespace fs = std::filesystem;
  const fs::path source = ProgramFolder() / QUILLON_FAKE_VERBENA_PATH;
  fs::path folder = fs::temp_directory_path() / u8"老师的 课堂 ";
  folder += std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  fs::create_directories(folder);
  const fs::path copy = folder / EncoderLibraryFileName();
  fs::copy_file(source, copy);
  const std::u8string utf8 = copy.u8string();
  {
    std::shared_ptr<const EncoderLibrary> library =
        LoadEncoderLibrary(std::string(utf8.begin(), utf8.end()));
    ASSERT_NE(library, nullptr);
    const EncoderFunctions& f = library->Functions();
    EXPECT_TRUE(f.CreateEncoder && f.Start && f.GetAudioNofifySize && f.PutVideoData &&
                f.PutAudioData && f.Stop);
    EXPECT_EQ(f.GetStats, nullptr);  // the fake does not offer statistics
    EncoderParams params{};
    EXPECT_EQ(f.Start(f.CreateEncoder(&params)), 1);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(EncoderLibraryTest, FailedLoadsNameTheFileOrTheExport) {
  const std::filesystem::path folder = ProgramFolder();
  EXPECT_TRUE(folder.is_absolute()) << folder;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(LoadEncoderLibrary("/nonexistent/folder/libverbena.so"), nullptr);
  EXPECT_EQ(LoadEncoderLibrary(QUILLON_FAKE_VERBENA_WITHOUT_STOP_PATH), nullptr);
  EXPECT_EQ(LoadEncoderLibraryFromFolder(folder), nullptr);  // the tests' folder holds none
  const std::string said = ::testing::internal::GetCapturedStderr();
  const std::u8string inFolder = (folder / EncoderLibraryFileName()).u8string();
  for (const std::string& named :
       {std::string("/nonexistent/folder/libverbena.so"), std::string("VERBENA_Stop"),
        std::string(inFolder.begin(), inFolder.end())}) {
    EXPECT_NE(said.find(named), std::string::npos) << named << " in: " << said;
  }
  EXPECT_EQ(said.find("VERBENA_Start "), std::string::npos) << said;  // only the missing export
}

}  // namespace
}  // namespace quillon
