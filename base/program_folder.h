// The program's folder, where config.ini and the files beside the program live.
#pragma once

#include <filesystem>

namespace quillon {

// The full path of the running executable; empty when the platform cannot tell.
std::filesystem::path ExecutablePath();

// The folder that holds the running executable, "." when the platform cannot tell. Start-up asks
// once and hands it to every part that opens a file beside the program.
inline std::filesystem::path ProgramFolder() {
  std::filesystem::path folder = ExecutablePath().parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Makes the executable's folder the current directory, as start-up always has, for whatever a
// library opens by a relative name; the program's own files are reached through ProgramFolder.
// On Linux a program folder the program may not write makes the teacher's recordings folder
// (ChooseUserFiles) current instead. Returns false when the folder is unknown or cannot be
// entered; the current directory is then unchanged.
bool MakeProgramFolderCurrent();

}  // namespace quillon
