// Where one output (a connection or the recording) starts its timeline: pictures are left out
// until the first keyframe, sound passes at once, and the first packet that passes becomes time
// zero, so every connection's stream starts at 0 with sound and picture together.
#pragma once

#include <cstdint>

namespace verbena {

class StreamStart {
 public:
  // False when the packet must be left out; otherwise *dtsMs and *ptsMs are moved onto the
  // output's timeline (never below zero).
  bool Admit(bool video, bool keyframe, int64_t* dtsMs, int64_t* ptsMs);
  bool Started() const { return started_; }

 private:
  bool started_ = false;
  bool videoStarted_ = false;
  int64_t offsetMs_ = 0;
};

}  // namespace verbena
