// A child process of a test (Xvfb, a sound server) that ends with the object, or with the test
// process whatever way that ends. Linux only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/testing/wait_for.h"

extern char** environ;

namespace quillon::testing {

// Sent SIGTERM (then SIGKILL) when this object goes, and SIGKILL by the kernel when the test
// process dies first.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (looked up on PATH), its output to logPath. The environment is this process's
  // with the entries "NAME=value" set and "NAME" removed. false when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& logPath) {
    Stop();
    // Everything the child needs is made before fork: after it only exec-safe calls run.
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view name = std::string_view(*entry).substr(0, std::strcspn(*entry, "="));
      bool replaced = false;
      for (const std::string& e : environment) replaced |= e.substr(0, e.find('=')) == name;
      if (!replaced) env.emplace_back(*entry);
    }
    for (const std::string& e : environment) {
      if (e.find('=') != std::string::npos) env.push_back(e);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      setpgid(0, 0);
      const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
      }
      execvpe(args[0], args.data(), envp.data());
      _exit(127);
    }
    pid_ = pid;
    return true;
  }

  bool Running() {
    if (pid_ >= 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ >= 0;
  }

  void Stop() {
    if (pid_ < 0) return;
    kill(pid_, SIGTERM);
    if (!WaitFor([this] { return !Running(); }, std::chrono::milliseconds(3000))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace quillon::testing
