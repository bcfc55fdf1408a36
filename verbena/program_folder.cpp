#include "verbena/program_folder.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "verbena/log.h"

namespace verbena {
namespace {

std::filesystem::path ExecutablePath() {
#ifdef _WIN32
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  if (length == 0 || length >= sizeof path / sizeof path[0]) return {};
  return std::filesystem::path(std::wstring(path, length));
#else
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::filesystem::path(std::string(path, static_cast<size_t>(length)));
#endif
}

std::tm LocalTime(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  return local;
}

}  // namespace

std::string ProgramFolder() {
  const std::filesystem::path folder = ExecutablePath().parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

std::string NewRecordingPath(const std::string& programFolder, const std::string& streamName) {
  // A program whose folder the user may not write names another folder for the recordings.
  const char* chosen = std::getenv("VERBENA_RECORDINGS_DIR");
  const std::string folder =
      chosen != nullptr && *chosen != '\0' ? std::string(chosen) : programFolder + "/recordings";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    Log("cannot make %s: %s; the class is not recorded", folder.c_str(), error.message().c_str());
    return {};
  }
  const std::tm local = LocalTime(std::time(nullptr));
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return folder + "/" + streamName + "-" + stamp + ".flv";
}

}  // namespace verbena
