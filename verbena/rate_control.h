// The video bit rate steered by what the link takes. On a link slower than the class's Bitrate
// the encoded data piles up; pictures then had to be left out, half of them on a 250 kbit/s
// uplink. Instead the rate steps down towards what the link carries, never below a fifth of
// Bitrate (and never below 64 kbit/s), and back up in steps once the backlog stays short. A fifth,
// not a third: a 250 kbit/s uplink that also carries 128 kbit/s of stereo sound leaves some
// 110 kbit/s for the picture, still enough for slides that change now and then.
#pragma once

#include <cstdint>

namespace verbena {

class RateControl {
 public:
  // Backlog of encoded data waiting for the link above which the link is taken to be full, and
  // below which it is taken to have room.
  static constexpr int64_t kFullBacklogMs = 200;
  static constexpr int64_t kRoomBacklogMs = 150;

  // configuredKbps: the class's video bit rate; soundKbps: the sound track's, which the link
  // carries beside it.
  RateControl(int configuredKbps, int soundKbps);

  // now: seconds on a steady clock; backlogMs: encoded data waiting for the link; sentKbps: what
  // the link took over the last seconds (0: not known yet). Returns the video bit rate to use.
  int Update(double now, int64_t backlogMs, int sentKbps);
  int TargetKbps() const { return target_; }

 private:
  const int configured_;
  const int sound_;
  const int floor_;
  int target_;
  double lastChange_ = -1e9;
  double roomSince_ = -1;  // since when the backlog has stayed short; -1: it has not
};

}  // namespace verbena
