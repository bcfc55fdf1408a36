#include "devices/testing/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <thread>

#include <pulse/pulseaudio.h>

#include "base/testing/wait_for.h"

namespace quillon::testing {
namespace {

// True when a client can talk to the server named by PULSE_SERVER.
bool SoundServerAnswers() {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "probe");
  bool ready = false;
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    for (int i = 0; i < 200; ++i) {
      pa_mainloop_iterate(loop, 0, nullptr);
      const pa_context_state_t state = pa_context_get_state(context);
      if (state == PA_CONTEXT_READY) ready = true;
      if (ready || !PA_CONTEXT_IS_GOOD(state)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  pa_context_disconnect(context);
  pa_context_unref(context);
  pa_mainloop_free(loop);
  return ready;
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& logPath) {
  Stop();
  // Everything the child needs is made before fork: after it only exec-safe calls run.
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).starts_with("PULSE_SERVER=")) continue;
    env.emplace_back(*entry);
  }
  env.insert(env.end(), environment.begin(), environment.end());
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

bool ChildProcess::Running() {
  if (pid_ < 0) return false;
  if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void ChildProcess::Stop() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  const bool ended = WaitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; },
                             std::chrono::milliseconds(3000));
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

bool TestSoundServer::Start() {
  const std::string dir = dir_.path().string();
  const std::string socket = dir + "/native";
  {
    std::ofstream script(dir + "/test.pa");
    // The sine plays into a null sink whose monitor the test microphone remaps; the loopback
    // keeps that sink busy, so sound flows at once rather than after the idle sink's 2 s latency.
    script << "load-module module-null-sink sink_name=tone_sink\n"
              "load-module module-null-sink sink_name=idle_sink\n"
              "load-module module-sine sink=tone_sink frequency=440\n"
              "load-module module-remap-source master=tone_sink.monitor source_name="
           << kMicrophone << " source_properties='device.description=\"" << kMicrophoneDescription
           << "\"'\n"
              "load-module module-loopback source=tone_sink.monitor sink=idle_sink "
              "latency_msec=60\n"
              "load-module module-native-protocol-unix auth-anonymous=1 socket="
           << socket << "\n"
           << "set-default-source " << kMicrophone << "\n";
  }
  const bool started = daemon_.Start(
      {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
       "--system=no", "--disallow-exit", "--log-target=stderr", "-F", dir + "/test.pa"},
      {"XDG_RUNTIME_DIR=" + dir, "HOME=" + dir}, dir + "/pulseaudio.log");
  if (!started) return false;
  setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
  const bool up = WaitFor([&] { return daemon_.Running() && SoundServerAnswers(); },
                          std::chrono::milliseconds(8000),
                          [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
  if (!up) log_ = TestFolder::Read(dir + "/pulseaudio.log");
  return up;
}

TestSoundServer::~TestSoundServer() {
  daemon_.Stop();
  unsetenv("PULSE_SERVER");
}

}  // namespace quillon::testing

// ThreadSanitizer cannot see how GLib, GStreamer and PulseAudio order their threads: GLib locks
// with raw futexes and both pass buffers on through atomics in code built without the
// sanitizer, so every hand-over through them looks like a race. Our own cross-thread state (the
// sound ring, the frame callback, the worker's flags) is checked without these libraries in
// devices_core_test.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so\n"
         "race:libgobject-2.0.so\n"
         "race:libgstreamer-1.0.so\n"
         "race:libgstbase-1.0.so\n"
         "race:libgstvideo-1.0.so\n"
         "race:libgstapp-1.0.so\n"
         "race:libpulsecommon-16.1.so\n"
         "race:libpulse.so\n";
}
