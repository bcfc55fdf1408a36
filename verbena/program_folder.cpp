#include "verbena/program_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "verbena/log.h"

namespace verbena {

std::string ProgramFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = 0;
  std::string folder(path);
  size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  folder.resize(slash == 0 ? 1 : slash);
  return folder;
}

std::string NewRecordingPath(const std::string& programFolder, const std::string& streamName) {
  std::string folder = programFolder + "/recordings";
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    Log("cannot make %s: %s; the class is not recorded", folder.c_str(), std::strerror(errno));
    return {};
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return folder + "/" + streamName + "-" + stamp + ".flv";
}

}  // namespace verbena
