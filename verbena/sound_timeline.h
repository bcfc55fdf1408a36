// Where each piece of sound goes on the sound track, counted in samples. The track stays
// continuous: every gap is filled with silence, so a class without sound (no sound device, or
// sound switched off) still has a sound track that players can follow.
//
// - Real sound is timed by counting samples from its first arrival; small gaps in the arrivals
//   (jitter, a late burst) are absorbed by the count, larger ones than kResyncMs are filled with
//   silence up to the new sound's arrival time.
// - While no real sound comes (from the start, or for kQuietMs), each picture moves the track on
//   with silence up to kTrailMs before the picture's time. The margin keeps silence off any time
//   that real sound still arriving could cover.
// - Real sound that follows silence starts at its arrival time; if silence already covers that
//   time, the sound goes right after it. Nothing is ever placed twice or moved backwards.
#pragma once

#include <cstdint>

namespace verbena {

class SoundTimeline {
 public:
  static constexpr int64_t kResyncMs = 300;
  static constexpr int64_t kQuietMs = 500;
  static constexpr int64_t kTrailMs = 200;

  // What to add to the track: `silence` silent samples starting at sample position `at`,
  // followed by the real sound, if any.
  struct Placement {
    int64_t at = 0;
    int64_t silence = 0;
  };

  explicit SoundTimeline(int samplesPerSecond);

  // Real sound: `samples` sample frames whose first one arrived at startUs (microseconds on the
  // stream's clock).
  Placement Sound(int64_t startUs, int64_t samples);
  // A picture taken at pictureUs. Before anything else it starts the track at that time.
  Placement Picture(int64_t pictureUs);
  // No more sound will come: silence up to endUs.
  Placement End(int64_t endUs);

  // Position of the next sample; -1 while the track has not started.
  int64_t next() const { return next_; }
  uint64_t silentSamples() const { return silentSamples_; }

 private:
  int64_t ToSamples(int64_t us) const;
  Placement SilenceUpTo(int64_t sample);

  int64_t rate_;
  int64_t next_ = -1;
  int64_t lastSoundEndUs_ = -1;  // arrival of the last real sound; -1 before any
  bool endsInSilence_ = true;
  uint64_t silentSamples_ = 0;
};

}  // namespace verbena
