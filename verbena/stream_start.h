// Where one output (a connection or the recording) starts its timeline: the first keyframe is
// time zero, so every connection's stream starts at 0 with sound and picture together. Pictures
// before it are left out, and so is sound, for at most kWaitForPictureMs: a class that sends no
// pictures at all starts with its sound then.
#pragma once

#include <cstdint>

namespace verbena {

class StreamStart {
 public:
  static constexpr int64_t kWaitForPictureMs = 1000;

  // False when the packet must be left out; otherwise *dtsMs and *ptsMs are moved onto the
  // output's timeline (never below zero).
  bool Admit(bool video, bool keyframe, int64_t* dtsMs, int64_t* ptsMs);
  bool Started() const { return started_; }

 private:
  bool started_ = false;
  bool videoStarted_ = false;
  int64_t offsetMs_ = 0;
  int64_t firstSoundMs_ = -1;
};

}  // namespace verbena
