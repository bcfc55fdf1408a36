#include "capture/encoder_library.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(EncoderLibraryTest, ProgramFolderIsTheTestsOwnFolder) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(std::filesystem::path(std::u8string(folder.begin(), folder.end())).is_absolute())
      << folder;
  ::testing::internal::CaptureStderr();
  // The tests' folder holds no encoder library: loading from it fails with a message.
  EXPECT_EQ(LoadEncoderLibraryFromProgramFolder(), nullptr);
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  EXPECT_NE(
      ::testing::internal::GetCapturedStderr().find(folder + separator + EncoderLibraryFileName()),
      std::string::npos);
}

}  // namespace
}  // namespace quillon
