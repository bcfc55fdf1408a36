// What the teacher is told about a class, read once a second on the window's (or the headless
// run's) thread: whether the class reaches the server, and whether pictures and sound reach it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "verbena/verbena.h"

namespace quillon {

enum class ClassState { kIdle, kConnecting, kLive, kReconnecting, kGaveUp };
// The state as the classroom page hears it: "idle", "connecting", "live", "reconnecting",
// "refused".
const char* ClassStateName(ClassState state);

// One reading of a class. A session fills what it knows; the rest keeps its default.
struct ClassReading {
  bool starting = false;              // 上课 pressed, the connection not made yet
  bool running = false;               // the class runs (between a successful start and its end)
  std::optional<VerbenaStats> stats;  // none: the encoder library does not report
  bool publishesPicture = true;       // false: no picture source opened for the picture type
  bool soundWanted = false;           // HaveAudio
  int32_t classKbps = 0;              // Bitrate: the picture's rate when the link carries it
  bool soundOpen = false;             // the sound device records
  int32_t soundPeak = 0;              // loudest sample since the last reading, 0 to 32767
  uint32_t screenProblem = 0;         // ScreenProblem: the desktop stopped coming during the class
};

// "host:port" of a publishing address (1935 when the address names no port, 443 for rtmps://),
// or the address as it is when it has no host; followed by kEncryptedMark for rtmps://, whose
// connection is encrypted (the library never falls back to a plain one).
std::string PublishTarget(const std::string& publishUrl);
inline constexpr char kEncryptedMark[] = "（加密）";

inline constexpr char kConnectFailed[] = "连接服务器失败";

// The second line under kConnectFailed: why the start failed (VerbenaStats' StartFailure) and
// the address tried. Empty when the library does not say why.
std::string StartFailureText(uint32_t startFailure, const std::string& publishUrl);
// What the teacher is told when a class did not start: for a screen with nothing to publish
// (ScreenProblem's values) what to do about it; otherwise kConnectFailed, with StartFailureText as
// its second line when there is one.
std::string ConnectFailedMessage(uint32_t startFailure, const std::string& publishUrl);

// Turns readings into the status line; a live class to a target that PublishTarget marked
// encrypted says so. Keeps what a single reading cannot tell: how long the
// class or the break has run, and the pictures dropped in the last minute.
class ClassStatusTracker {
 public:
  explicit ClassStatusTracker(std::string target);

  struct Status {
    ClassState state = ClassState::kIdle;
    std::string line;
    bool changed = false;  // the state differs from the previous update's
  };
  // now: seconds on a steady clock, increasing from one update to the next.
  Status Update(double now, const ClassReading& reading);

 private:
  ClassState StateOf(const ClassReading& reading) const;
  uint64_t DroppedInLastMinute(double now, const ClassReading& reading);

  std::string target_;
  bool encrypted_ = false;
  ClassState state_ = ClassState::kIdle;
  bool first_ = true;
  double stateSince_ = 0;
  double liveSince_ = 0;
  std::deque<std::pair<double, uint64_t>> dropped_;  // (time, pictures dropped so far)
  double lastSound_ = -1;                            // when a reading last had sound above silence
};

}  // namespace quillon
