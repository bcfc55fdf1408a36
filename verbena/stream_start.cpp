#include "verbena/stream_start.h"

#include <algorithm>

namespace verbena {

bool StreamStart::Admit(bool video, bool keyframe, int64_t* dtsMs, int64_t* ptsMs) {
  if (video && !videoStarted_) {
    if (!keyframe) return false;
    videoStarted_ = true;
    if (!started_) {
      started_ = true;
      offsetMs_ = *dtsMs;
    }
  }
  if (!video && !started_) {
    if (firstSoundMs_ < 0) firstSoundMs_ = *dtsMs;
    if (*dtsMs - firstSoundMs_ < kWaitForPictureMs) return false;
    started_ = true;
    offsetMs_ = *dtsMs;
  }
  // Sound encoded a moment before the first picture is left out rather than bunched at zero.
  if (!video && *dtsMs < offsetMs_) return false;
  *dtsMs = std::max<int64_t>(*dtsMs - offsetMs_, 0);
  *ptsMs = std::max<int64_t>(*ptsMs - offsetMs_, *dtsMs);
  return true;
}

}  // namespace verbena
