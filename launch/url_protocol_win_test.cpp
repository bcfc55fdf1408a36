// The quillon.publish registration in this process's registry (under Wine, the test prefix's).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/testing/test_folder.h"
#include "launch/url_protocol.h"

namespace quillon {
namespace {

const char* const kKeys[] = {"quillon.publish", "quillon.publish\\DefaultIcon",
                             "quillon.publish\\shell\\open\\command"};
const char* const kValueNames[] = {"URL Protocol", nullptr, nullptr};

std::string ExecutableA() {
  char path[4096] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

struct StoredValue {
  DWORD Type = 0;
  std::string Bytes;
};

StoredValue ReadValue(const char* key, const char* name) {
  StoredValue value;
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  RegQueryValueExA(opened, name, nullptr, &value.Type, nullptr, &size);
  value.Bytes.resize(size);
  RegQueryValueExA(opened, name, nullptr, &value.Type, reinterpret_cast<BYTE*>(value.Bytes.data()),
                   &size);
  RegCloseKey(opened);
  return value;
}

// HKEY_CLASSES_ROOT of this process is a private key of the test's: other tests and programs
// registering at the same time neither disturb it nor see it.
class UrlProtocolWin : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, private_.c_str(), &classes_), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(classes_);
    RegDeleteTreeA(HKEY_CURRENT_USER, private_.c_str());
    SetCurrentDirectoryW(std::filesystem::temp_directory_path().c_str());
  }

 private:
  const std::string private_ =
      "Software\\quillon-url-protocol-test-" + std::to_string(GetCurrentProcessId());
  HKEY classes_ = nullptr;
};

void ExpectRegisteredHere() {
  const std::string path = ExecutableA();
  const std::string command = "\"" + path + "\" \"%1\"";
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kKeys[i]);
    const StoredValue value = ReadValue(kKeys[i], kValueNames[i]);
    EXPECT_EQ(value.Type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(value.Bytes.size(), 512u);
    EXPECT_EQ(value.Bytes.substr(0, command.size()), command);
    EXPECT_EQ(value.Bytes.find_first_not_of('\0', command.size()), std::string::npos)
        << "the text is followed by zero bytes only";
  }
}

TEST_F(UrlProtocolWin, WritesTheQuotedCommandOverAnyEarlierOneAndEntersTheProgramFolder) {
  TestFolder elsewhere;
  ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.path().c_str()));
  RegisterUrlProtocol();  // no keys yet: created
  ExpectRegisteredHere();
  const std::string path = ExecutableA();
  char folder[4096] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  EXPECT_EQ(folder, path.substr(0, path.find_last_of('\\')));

  // A copy in another folder registered itself since, with a longer text than ours.
  const std::string other = "\"C:\\Program Files\\" + std::string(300, 'x') + "\\p.exe\" \"%1\"";
  for (int i = 0; i < 3; ++i) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kKeys[i], 0, KEY_SET_VALUE, &opened), ERROR_SUCCESS);
    RegSetValueExA(opened, kValueNames[i], 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>(other.size() + 1));
    RegCloseKey(opened);
  }
  RegisterUrlProtocol();  // the keys exist now: opened, not created again
  ExpectRegisteredHere();
}

}  // namespace
}  // namespace quillon
