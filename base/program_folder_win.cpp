#include <windows.h>

#include <string>
#include <system_error>

#include "base/program_folder.h"

namespace quillon {

std::filesystem::path ExecutablePath() {
  // Paths longer than MAX_PATH exist on Windows; grow until the whole path fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool MakeProgramFolderCurrent() {
  const std::filesystem::path folder = ExecutablePath().parent_path();
  if (folder.empty()) return false;
  return SetCurrentDirectoryW(folder.c_str()) != 0;
}

}  // namespace quillon
