#include "verbena/sound_timeline.h"

#include <gtest/gtest.h>

namespace verbena {
namespace {

// 1000 samples a second: one sample per millisecond keeps the numbers readable.
constexpr int kRate = 1000;
constexpr int64_t kMs = 1000;  // microseconds

// Keeps the track as the encoder would and checks that it stays continuous.
struct Track {
  SoundTimeline timeline{kRate};
  int64_t end = -1;
  int64_t silence = 0;

  // Returns the silence placed.
  int64_t Add(SoundTimeline::Placement placement, int64_t soundSamples) {
    EXPECT_EQ(placement.at, end < 0 ? placement.at : end) << "gap or overlap on the track";
    EXPECT_GE(placement.silence, 0);
    end = placement.at + placement.silence + soundSamples;
    silence += placement.silence;
    EXPECT_EQ(end, timeline.next());
    return placement.silence;
  }
  int64_t Sound(int64_t startMs, int64_t samples) {  // returns where the sound went
    Add(timeline.Sound(startMs * kMs, samples), samples);
    return end - samples;
  }
  int64_t Picture(int64_t ms) { return Add(timeline.Picture(ms * kMs), 0); }
};

TEST(SoundTimeline, PicturesAloneGetSilenceTrailingThemAndLateSoundGoesAfterIt) {
  Track track;
  EXPECT_EQ(track.timeline.End(5000 * kMs).silence, 0);  // nothing before the track starts
  EXPECT_EQ(track.timeline.next(), -1);
  EXPECT_EQ(track.Picture(1000), 0);  // the track starts here
  for (int64_t ms = 1000; ms <= 3000; ms += 100) track.Picture(ms);
  EXPECT_EQ(track.end, 3000 - SoundTimeline::kTrailMs);
  EXPECT_EQ(track.silence, 2000 - SoundTimeline::kTrailMs);
  // Late sound, a long buffer whose start is older than the silence there: it goes right after.
  EXPECT_EQ(track.Sound(2500, 400), 3000 - SoundTimeline::kTrailMs);
  track.timeline.End(3500 * kMs);
  EXPECT_EQ(track.timeline.next(), 3500);
  EXPECT_EQ(track.timeline.silentSamples(), 1800u + 300u);  // before and after the sound
}

TEST(SoundTimeline, SoundAfterSilenceStartsAtItsArrivalTime) {
  Track track;
  for (int64_t ms = 0; ms <= 3000; ms += 66) track.Picture(ms);
  // The sound starts at 3010 ms: silence fills up to it exactly, so sound and picture stay in
  // step.
  EXPECT_EQ(track.Sound(3010, 23), 3010);
  EXPECT_EQ(track.Picture(3036), 0);  // real sound is coming: no more silence
  EXPECT_EQ(track.Sound(3033, 23), 3033);
  // Jitter after real sound is absorbed by counting: the sound stays seamless.
  EXPECT_EQ(track.Sound(3060, 23), 3056);
  EXPECT_EQ(track.Sound(3075, 23), 3079);
}

TEST(SoundTimeline, SilenceFillsAPauseInTheSoundOnlyAfterItLastedAWhile) {
  Track track;
  track.Picture(0);
  int64_t ms = 0;
  for (; ms < 1000; ms += 20) track.Sound(ms, 20);
  const int64_t silenceBefore = track.silence;
  // The sound stops; pictures go on. Nothing for kQuietMs, then silence trailing the pictures.
  for (int64_t at = ms; at < ms + SoundTimeline::kQuietMs; at += 50)
    EXPECT_EQ(track.Picture(at), 0);
  EXPECT_GT(track.Picture(ms + 1000), 0);
  EXPECT_EQ(track.end, ms + 1000 - SoundTimeline::kTrailMs);
  // The sound comes back: on time, not early.
  EXPECT_EQ(track.Sound(ms + 1100, 20), ms + 1100);
  EXPECT_EQ(track.silence - silenceBefore, 1100);
}

TEST(SoundTimeline, ALongGapInTheSoundAloneIsFilledNotSkipped) {
  Track track;
  track.Sound(0, 20);
  track.Sound(20, 20);
  EXPECT_EQ(track.Sound(40 + SoundTimeline::kResyncMs + 10, 20),
            40 + SoundTimeline::kResyncMs + 10);
  // Sound that runs ahead of its arrivals (the device's clock is faster) is never moved back.
  EXPECT_EQ(track.Sound(300, 20), 40 + SoundTimeline::kResyncMs + 30);
}

}  // namespace
}  // namespace verbena
