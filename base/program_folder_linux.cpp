#include <stdlib.h>

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
  std::error_code error;
  // A read-only program folder (the Debian package's) records into the teacher's videos folder:
  // the encoder library is told where (set before any thread of ours exists).
  const std::filesystem::path recordings = ChooseUserFiles(folder).Recordings;
  if (recordings != folder / "recordings" && !recordings.empty()) {
    setenv("VERBENA_RECORDINGS_DIR", recordings.c_str(), 1);
  }
  std::filesystem::current_path(folder, error);
  return !error;
}

}  // namespace quillon
