#include "devices/testing/test_support.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/testing/wait_for.h"

namespace quillon::testing {

bool TestSoundServer::Start() {
  const std::string dir = dir_.path().string();
  const std::string socket = dir + "/native";
  std::string script = TestFolder::Read(QUILLON_TEST_MICROPHONE_PA);
  const size_t at = script.rfind("=SOCKET");
  if (at == std::string::npos) return false;
  TestFolder::Write(dir + "/test.pa", script.replace(at + 1, 6, socket));
  const bool started = daemon_.Start(
      {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
       "--system=no", "--disallow-exit", "--log-target=stderr", "-F", dir + "/test.pa"},
      {"XDG_RUNTIME_DIR=" + dir, "HOME=" + dir, "PULSE_SERVER"}, dir + "/pulseaudio.log");
  if (!started) return false;
  setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
  // Up once a client can talk to it (pactl asks the server PULSE_SERVER names).
  const bool up = WaitFor(
      [&] { return daemon_.Running() && std::system("timeout 2 pactl info >/dev/null 2>&1") == 0; },
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
