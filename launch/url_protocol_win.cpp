// The quillon.publish URL scheme in the registry under HKEY_CLASSES_ROOT. Every start rewrites the
// three values, so a link always starts the copy of the program that ran last.
#include <windows.h>
// windows.h first: shlwapi.h needs its types.
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "base/program_folder.h"
#include "launch/url_protocol.h"

namespace quillon {
namespace {

// Path, folder and command text are each kept in this many bytes, and every value is stored with
// exactly this data length: the text, its zero byte and zeros up to the end.
constexpr DWORD kTextBytes = 512;

// An open registry key, closed when it goes out of scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY* Receive() {
    Close();
    return &key_;
  }
  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

struct SchemeEntry {
  const char* Key;
  const char* ValueName;  // nullptr: the key's default value
};

constexpr SchemeEntry kEntries[] = {
    {"quillon.publish", "URL Protocol"},
    {"quillon.publish\\DefaultIcon", nullptr},
    {"quillon.publish\\shell\\open\\command", nullptr},
};

void CreateSchemeKeys() {
  RegistryKey classes;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
                    classes.Receive()) != ERROR_SUCCESS) {
    return;
  }
  for (const SchemeEntry& entry : kEntries) {
    RegistryKey created;
    RegCreateKeyA(classes.get(), entry.Key, created.Receive());
  }
}

// Makes the folder of the executable at path the current directory. A path the ANSI calls cannot
// enter (cut at 511 characters, or with characters outside the code page) is entered through the
// wide-character path of the executable instead.
void EnterProgramFolder(const char* path, bool pathComplete) {
  char folder[kTextBytes];
  std::memcpy(folder, path, kTextBytes);
  PathRemoveFileSpecA(folder);
  if (pathComplete && SetCurrentDirectoryA(folder) != 0) return;
  MakeProgramFolderCurrent();
}

void WriteSchemeValues(const char (&command)[kTextBytes]) {
  for (const SchemeEntry& entry : kEntries) {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, entry.Key, 0, KEY_ALL_ACCESS, key.Receive()) !=
        ERROR_SUCCESS) {
      continue;
    }
    RegSetValueExA(key.get(), entry.ValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                   kTextBytes);
  }
}

}  // namespace

void RegisterUrlProtocol() {
  CreateSchemeKeys();

  char path[kTextBytes] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, kTextBytes);
  // A path of 512 characters or more comes back cut; a cut path names another file.
  const bool pathComplete = length > 0 && length < kTextBytes;
  EnterProgramFolder(path, pathComplete);

  // Both parts quoted: a path with spaces would otherwise start another program, and a link
  // with spaces would arrive as several arguments.
  char command[kTextBytes] = {};
  const int written = std::snprintf(command, sizeof command, "\"%s\" \"%s\"", path, "%1");
  // A command that does not fit would be cut and start nothing sensible: the earlier
  // registration stays instead.
  if (!pathComplete || written < 0 || static_cast<DWORD>(written) >= kTextBytes) return;
  WriteSchemeValues(command);
}

}  // namespace quillon
