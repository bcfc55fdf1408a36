// What the device tests start for themselves: a PulseAudio daemon with a steady 440 Hz test
// microphone. It lives in a temporary folder of its own and dies with the test process, whatever
// way that ends. The X server of the preview test is the one the capture tests use.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/testing/test_folder.h"

namespace quillon::testing {

// A child process that is sent SIGTERM (then SIGKILL) when this object goes, and SIGKILL by the
// kernel when the test process dies first.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (looked up on PATH) with extra "NAME=value" environment entries, output to
  // logPath. false when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& logPath);
  bool Running();
  void Stop();

 private:
  pid_t pid_ = -1;
};

// A PulseAudio daemon whose default source TestSoundServer::kMicrophone records a 440 Hz sine
// (stereo, 44100 Hz) without pauses. Start sets PULSE_SERVER for this process.
class TestSoundServer {
 public:
  static constexpr const char* kMicrophone = "quillon_test_mic";
  static constexpr const char* kMicrophoneDescription = "Quillon test microphone";
  static constexpr double kToneHz = 440.0;

  bool Start();
  ~TestSoundServer();
  const std::string& Log() const { return log_; }

 private:
  TestFolder dir_;
  ChildProcess daemon_;
  std::string log_;
};

}  // namespace quillon::testing
