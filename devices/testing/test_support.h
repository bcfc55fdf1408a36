// What the device tests start for themselves: a PulseAudio daemon with a steady 440 Hz test
// microphone. It lives in a temporary folder of its own and dies with the test process, whatever
// way that ends. The X server of the preview test is the one the capture tests use.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "devices/device_messages.h"

namespace quillon::testing {

// Collects the messages meant for the user while it exists.
class MessageLog final : public UserMessages {
 public:
  void Show(const std::string& text) override {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  ScopedUserMessages installed_{*this};
};

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

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
  TempDir dir_;
  ChildProcess daemon_;
  std::string log_;
};

}  // namespace quillon::testing
