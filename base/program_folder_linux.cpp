#include <system_error>

#include "base/program_folder.h"

namespace quillon {

std::filesystem::path ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

bool MakeProgramFolderCurrent() {
  const std::filesystem::path folder = ExecutablePath().parent_path();
  if (folder.empty()) return false;
  std::error_code error;
  std::filesystem::current_path(folder, error);
  return !error;
}

}  // namespace quillon
