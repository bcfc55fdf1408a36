#include "app/publisher_ports.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "base/log.h"
#include "base/testing/shipped_settings.h"
#include "base/testing/test_folder.h"
#include "base/testing/wait_for.h"

namespace quillon {
namespace {

bool Loaded(const std::filesystem::path& library) {
  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module != nullptr) dlclose(module);
  return module != nullptr;
}

TEST(CaptureSessionFactoryTest, PrepareLoadsTheLibraryInTheBackgroundAndTriesAgainAfterAFailure) {
  TestFolder folder;
  const std::filesystem::path library = folder / "libverbena.so";
  CaptureSessionFactory sessions(folder.path());
  PublisherSettings record = ShippedSettings();
  record.VideoStyle = 7;  // no picture source: nothing but the encoder library is needed
  record.HaveAudio = 0;
  LogCapture log;

  // Not there while the window readies it: the class says so.
  sessions.Prepare();
  std::unique_ptr<ClassSession> session = sessions.Create(record);
  ASSERT_NE(session, nullptr);
  EXPECT_FALSE(session->Connect());
  session.reset();
  EXPECT_NE(log.Text().find("cannot load the encoder library"), std::string::npos) << log.Text();

  // Put there later: readied again, without a class asking for it, and every class uses it.
  std::filesystem::copy_file(QUILLON_FAKE_VERBENA_PATH, library);
  ASSERT_FALSE(Loaded(library));
  sessions.Prepare();
  EXPECT_TRUE(WaitFor([&] { return Loaded(library); }));
  for (int i = 0; i < 2; ++i) {
    session = sessions.Create(record);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->Connect());
    session->Stop();
    session.reset();
  }
}

}  // namespace
}  // namespace quillon
