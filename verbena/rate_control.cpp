#include "verbena/rate_control.h"

#include <algorithm>

namespace verbena {
namespace {

constexpr double kStepDownEvery = 0.5;  // seconds between steps down: the last one takes effect
constexpr double kRoomFor = 3.0;        // seconds of short backlog before the first step up
constexpr double kStepUpEvery = 2.0;
constexpr double kStepDown = 0.6;  // at most, each step down keeps this share
constexpr double kStepUp = 1.3;
constexpr double kLinkShare = 0.9;  // of what the link took, the share aimed at

}  // namespace

RateControl::RateControl(int configuredKbps, int soundKbps)
    : configured_(configuredKbps),
      sound_(soundKbps),
      floor_(std::max(configuredKbps / 5, std::min(configuredKbps, 64))),
      target_(configuredKbps) {}

int RateControl::Update(double now, int64_t backlogMs, int sentKbps) {
  if (backlogMs > kFullBacklogMs) {
    roomSince_ = -1;
    if (now - lastChange_ >= kStepDownEvery) {
      int next = static_cast<int>(target_ * kStepDown);
      // What the link took, less the sound it also carries.
      if (sentKbps > 0) next = std::min(next, static_cast<int>((sentKbps - sound_) * kLinkShare));
      target_ = std::max(next, floor_);
      lastChange_ = now;
    }
  } else if (backlogMs < kRoomBacklogMs) {
    if (roomSince_ < 0) roomSince_ = now;
    if (target_ < configured_ && now - roomSince_ >= kRoomFor &&
        now - lastChange_ >= kStepUpEvery) {
      target_ = std::min(configured_, static_cast<int>(target_ * kStepUp) + 1);
      lastChange_ = now;
    }
  } else {
    roomSince_ = -1;
  }
  return target_;
}

}  // namespace verbena
