#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include "base/log.h"
#include "base/user_files.h"

namespace quillon {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The value of XDG_<name>_DIR in user-dirs.dirs: "$HOME/..." or an absolute path in quotes, as
// xdg-user-dirs-update writes it; empty when the file does not set it.
std::filesystem::path UserDir(const std::string& name) {
  const std::filesystem::path config = XdgFolder("XDG_CONFIG_HOME", ".config");
  if (config.empty()) return {};
  std::ifstream file(config / "user-dirs.dirs");
  const std::string key = "XDG_" + name + "_DIR=\"";
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME", 0) == 0) value = HomeFolder().string() + value.substr(5);
    if (std::filesystem::path(value).is_absolute()) return value;
  }
  return {};
}

}  // namespace

std::filesystem::path HomeFolder() {
  std::string home = EnvironmentValue("HOME");
  if (!home.empty()) return home;
  if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
  return {};
}

std::filesystem::path XdgFolder(const char* variable, const char* underHome) {
  std::filesystem::path folder = EnvironmentValue(variable);
  if (folder.is_absolute()) return folder;
  std::filesystem::path home = HomeFolder();
  return home.empty() ? std::filesystem::path{} : home / underHome;
}

std::filesystem::path VideosFolder() {
  std::filesystem::path videos = UserDir("VIDEOS");
  if (!videos.empty()) return videos;
  std::filesystem::path home = HomeFolder();
  return home.empty() ? std::filesystem::path{} : home / "Videos";
}

UserFiles ChooseUserFiles(const std::filesystem::path& programFolder) {
  const std::filesystem::path config = XdgFolder("XDG_CONFIG_HOME", ".config");
  if (access(programFolder.c_str(), W_OK) == 0 || config.empty()) {
    return {programFolder / kSettingsFileName, programFolder / "recordings"};
  }
  UserFiles files{config / "quillon-publisher" / kSettingsFileName, VideosFolder()};
  std::error_code error;
  if (!std::filesystem::exists(files.SettingsFile, error) && !error) {
    std::filesystem::create_directories(files.SettingsFile.parent_path(), error);
    std::filesystem::copy_file(programFolder / kSettingsFileName, files.SettingsFile, error);
    // The teacher's copy is the teacher's to change, whatever the shipped file's mode.
    if (!error) {
      std::filesystem::permissions(files.SettingsFile, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, error);
    }
    if (error) {
      LogWarning("cannot make %s from the program folder's: %s", files.SettingsFile.c_str(),
                 error.message().c_str());
    }
  }
  return files;
}

}  // namespace quillon
