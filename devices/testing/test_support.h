// What the device tests start for themselves: a PulseAudio daemon with a steady 440 Hz test
// microphone. It lives in a temporary folder of its own and dies with the test process, whatever
// way that ends. The X server of the preview test is the one the capture tests use.
#pragma once

#include <string>

#include "base/testing/child_process.h"
#include "base/testing/test_folder.h"

namespace quillon::testing {

// A PulseAudio daemon whose default source TestSoundServer::kMicrophone records a 440 Hz sine
// (stereo, 44100 Hz) without pauses (devices/testing/test_microphone.pa). Start sets PULSE_SERVER
// for this process.
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
