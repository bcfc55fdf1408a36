#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "base/atomic_file.h"
#include "base/log.h"
#include "base/program_folder.h"
#include "base/user_files.h"
#include "launch/url_protocol.h"
#include "launch/url_protocol_xdg.h"

extern char** environ;

namespace quillon {
namespace {

// Replaces path by a file with text, making its folder first when it is missing.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  return ReplaceFileAtomically(path, text);
}

// Runs update-desktop-database on folder when it is installed, so that desktops which read its
// cache see the new handler; waits at most a few seconds for it.
void UpdateDesktopDatabase(const std::filesystem::path& folder) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "update-desktop-database", quiet = "-q", target = folder.string();
  char* arguments[] = {program.data(), quiet.data(), target.data(), nullptr};
  pid_t child = 0;
  const int failed = posix_spawnp(&child, program.c_str(), &actions, nullptr, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return;
  for (int waited = 0; waited < 500; ++waited) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

std::string DesktopExecProgram(const std::string& executable) {
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string program;
  const bool quote = executable.find_first_of(kReserved) != std::string::npos;
  if (quote) program += '"';
  for (char c : executable) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) program += '\\';
    program += c;
    if (c == '%') program += '%';
  }
  if (quote) program += '"';
  // The key's value is itself an escaped string: backslashes and control characters once more.
  std::string value;
  for (char c : program) {
    switch (c) {
      case '\\':
        value += "\\\\";
        break;
      case '\n':
        value += "\\n";
        break;
      case '\t':
        value += "\\t";
        break;
      case '\r':
        value += "\\r";
        break;
      default:
        value += c;
    }
  }
  return value;
}

std::string DesktopEntryText(const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quillon Publisher\n"
         "Name[zh_CN]=新一代网络教学系统\n"
         "Comment=Publishes a live class from a classroom link\n"
         "Exec=" +
         DesktopExecProgram(executable) +
         " %u\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "MimeType=" +
         std::string(kSchemeMimeType) + ";\n";
}

std::string SetDefaultHandler(const std::string& mimeappsText, const std::string& mimeType,
                              const std::string& desktopFile) {
  static constexpr std::string_view kSection = "[Default Applications]";
  std::istringstream in(mimeappsText);
  std::string out, line;
  bool inSection = false, written = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inSection = line == kSection;
      out += line + "\n";
      if (inSection && !written) {
        out += mimeType + "=" + desktopFile + ";\n";
        written = true;
      }
      continue;
    }
    if (inSection) {
      const size_t equals = line.find('=');
      std::string key = line.substr(0, equals);
      while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
      if (equals != std::string::npos && key == mimeType) continue;
    }
    out += line + "\n";
  }
  if (!written) {
    if (!out.empty() && out.substr(out.size() >= 2 ? out.size() - 2 : 0) != "\n\n") out += "\n";
    out += std::string(kSection) + "\n" + mimeType + "=" + desktopFile + ";\n";
  }
  return out;
}

std::filesystem::path UserApplicationsFolder() {
  std::filesystem::path data = XdgFolder("XDG_DATA_HOME", ".local/share");
  return data.empty() ? data : data / "applications";
}

std::filesystem::path UserConfigFolder() {
  return XdgFolder("XDG_CONFIG_HOME", ".config");
}

bool RegisterSchemeHandler(const std::string& executable) {
  const std::filesystem::path applications = UserApplicationsFolder();
  const std::filesystem::path config = UserConfigFolder();
  if (applications.empty() || config.empty() || executable.empty()) return false;
  bool ok = WriteWholeFile(applications / kDesktopFileName, DesktopEntryText(executable));
  const std::filesystem::path mimeapps = config / "mimeapps.list";
  // A list that is there but cannot be read is not replaced: the user's other choices stay.
  std::string list, why;
  if (ReadWholeFile(mimeapps, list, why) == FileRead::kFailed) {
    LogWarning("cannot read %s: %s", mimeapps.string().c_str(), why.c_str());
    ok = false;
  } else {
    ok = WriteWholeFile(mimeapps, SetDefaultHandler(list, kSchemeMimeType, kDesktopFileName)) && ok;
  }
  UpdateDesktopDatabase(applications);
  return ok;
}

void RegisterUrlProtocol() {
  // Every relative path of the program resolves against its folder; this comes first and does
  // not depend on the registration.
  MakeProgramFolderCurrent();
  RegisterSchemeHandler(ExecutablePath().string());
}

}  // namespace quillon
