#include <system_error>

#include "base/program_folder.h"
#include "base/user_files.h"

namespace quillon {

std::filesystem::path ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

bool MakeProgramFolderCurrent() {
  const std::filesystem::path folder = ExecutablePath().parent_path();
  if (folder.empty()) return false;
  std::filesystem::path current = folder;
  std::error_code error;
  // The encoder library records into recordings/ of the program folder. A read-only program
  // folder (the Debian package's) ships that as a link to the working folder, which is then the
  // teacher's recordings folder.
  const std::filesystem::path recordings = ChooseUserFiles(folder).Recordings;
  if (recordings != folder / "recordings" && !recordings.empty()) {
    std::filesystem::create_directories(recordings, error);
    if (!error) current = recordings;
  }
  std::filesystem::current_path(current, error);
  return !error;
}

}  // namespace quillon
