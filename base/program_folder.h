// The program's folder, where config.ini and the files beside the program live.
#pragma once

#include <filesystem>

namespace quillon {

// The full path of the running executable; empty when the platform cannot tell.
std::filesystem::path ExecutablePath();

// Makes the executable's folder the current directory, so that "./config.ini" and the other
// relative paths find the files beside the program. Start-up calls it first. Returns false when
// the folder is unknown or cannot be entered; the current directory is then unchanged.
bool MakeProgramFolderCurrent();

}  // namespace quillon
