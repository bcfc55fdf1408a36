#include "capture/encoder_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "base/program_folder.h"
#include "capture/testing/fake_encoder.h"

namespace quillon {
namespace {

TEST(EncoderLibraryTest, LoadsAllSixFunctionsAndTheOptionalOne) {
  testing::FakeEncoder fake;
  const EncoderFunctions& f = fake.Library()->Functions();
  EXPECT_NE(f.CreateEncoder, nullptr);
  EXPECT_NE(f.Start, nullptr);
  EXPECT_NE(f.GetAudioNofifySize, nullptr);
  EXPECT_NE(f.PutVideoData, nullptr);
  EXPECT_NE(f.PutAudioData, nullptr);
  EXPECT_NE(f.Stop, nullptr);
  EXPECT_EQ(f.GetStats, nullptr);  // the fake does not offer statistics

  EncoderParams params{};
  params.Width = 8;
  void* handle = f.CreateEncoder(&params);
  EXPECT_EQ(f.Start(handle), 1);
  EXPECT_EQ(fake.Names(), (std::vector<std::string>{"CreateEncoder", "Start"}));
}

TEST(EncoderLibraryTest, LoadsFromAFolderWithAChineseNameAndSpaces) {
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
    EncoderParams params{};
    EXPECT_EQ(library->Functions().Start(library->Functions().CreateEncoder(&params)), 1);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(EncoderLibraryTest, MissingFileNamesTheFile) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(LoadEncoderLibrary("/nonexistent/folder/libverbena.so"), nullptr);
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("/nonexistent/folder/libverbena.so"), std::string::npos) << said;
}

TEST(EncoderLibraryTest, MissingExportNamesTheExport) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(LoadEncoderLibrary(QUILLON_FAKE_VERBENA_WITHOUT_STOP_PATH), nullptr);
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("VERBENA_Stop"), std::string::npos) << said;
  EXPECT_EQ(said.find("VERBENA_Start "), std::string::npos) << said;
}

TEST(EncoderLibraryTest, LoadingFromAFolderWithoutTheLibraryNamesTheFileInIt) {
  const std::filesystem::path folder = ProgramFolder();
  EXPECT_TRUE(folder.is_absolute()) << folder;
  ::testing::internal::CaptureStderr();
  // The tests' folder holds no encoder library: loading from it fails with a message.
  EXPECT_EQ(LoadEncoderLibraryFromFolder(folder), nullptr);
  const std::u8string utf8 = folder.u8string();
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(std::string(utf8.begin(), utf8.end()) +
                                                          separator + EncoderLibraryFileName()),
            std::string::npos);
}

}  // namespace
}  // namespace quillon
