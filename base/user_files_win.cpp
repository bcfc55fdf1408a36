#include "base/user_files.h"

namespace quillon {

// The installer puts the program into Program Files and the program runs as administrator, so
// its folder is always its own to write.
UserFiles ChooseUserFiles(const std::filesystem::path& programFolder) {
  return {programFolder / kSettingsFileName, programFolder / "recordings"};
}

}  // namespace quillon
