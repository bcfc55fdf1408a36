#include "verbena/sound_timeline.h"

#include <algorithm>

namespace verbena {

SoundTimeline::SoundTimeline(int samplesPerSecond) : rate_(std::max(samplesPerSecond, 1)) {}

int64_t SoundTimeline::ToSamples(int64_t us) const {
  return std::max<int64_t>(us, 0) * rate_ / 1000000;
}

SoundTimeline::Placement SoundTimeline::SilenceUpTo(int64_t sample) {
  Placement placement;
  placement.at = next_;
  if (sample > next_) {
    placement.silence = sample - next_;
    next_ = sample;
    silentSamples_ += static_cast<uint64_t>(placement.silence);
    endsInSilence_ = true;
  }
  return placement;
}

SoundTimeline::Placement SoundTimeline::Sound(int64_t startUs, int64_t samples) {
  const int64_t arrived = ToSamples(startUs);
  Placement placement;
  if (next_ < 0) {
    next_ = arrived;
  } else if (endsInSilence_ || arrived - next_ > kResyncMs * rate_ / 1000) {
    placement = SilenceUpTo(arrived);  // nothing when silence already covers the arrival
  }
  placement.at = next_ - placement.silence;
  next_ += std::max<int64_t>(samples, 0);
  lastSoundEndUs_ = startUs + std::max<int64_t>(samples, 0) * 1000000 / rate_;
  endsInSilence_ = false;
  return placement;
}

SoundTimeline::Placement SoundTimeline::Picture(int64_t pictureUs) {
  if (next_ < 0) {
    next_ = ToSamples(pictureUs);
    endsInSilence_ = true;
    return Placement{next_, 0};
  }
  if (lastSoundEndUs_ >= 0 && pictureUs - lastSoundEndUs_ < kQuietMs * 1000)
    return Placement{next_, 0};
  return SilenceUpTo(ToSamples(pictureUs - kTrailMs * 1000));
}

SoundTimeline::Placement SoundTimeline::End(int64_t endUs) {
  if (next_ < 0) return Placement{};
  return SilenceUpTo(ToSamples(endUs));
}

}  // namespace verbena
