// Where a run of the program keeps the teacher's own files: config.ini and the class recordings.
#pragma once

#include <filesystem>

namespace quillon {

inline constexpr char kSettingsFileName[] = "config.ini";

struct UserFiles {
  std::filesystem::path SettingsFile;  // the config.ini this run reads and writes
  std::filesystem::path Recordings;    // the folder the class recordings go to
};

// A program folder that the program may write keeps both, as it always has: config.ini beside
// the program and the recordings in its recordings/ (the build tree, a copy in the home folder,
// every Windows install). A system install's folder is read-only for the teacher; the teacher's
// own folders take them instead: config.ini in $XDG_CONFIG_HOME/quillon-publisher/ (made from
// the program folder's on first use, then kept) and the recordings in the videos folder.
UserFiles ChooseUserFiles(const std::filesystem::path& programFolder);

#ifndef _WIN32
// The home folder: $HOME, else the password database's; empty when neither is known.
std::filesystem::path HomeFolder();
// An XDG base folder: the variable when it holds an absolute path, else underHome in the home
// folder; empty when neither is known.
std::filesystem::path XdgFolder(const char* variable, const char* underHome);
// The videos folder as `xdg-user-dir VIDEOS` tells it (XDG_VIDEOS_DIR in user-dirs.dirs), else
// ~/Videos.
std::filesystem::path VideosFolder();
#endif

}  // namespace quillon
