#include "verbena/reconnect_policy.h"

#include <algorithm>

namespace verbena {

constexpr int kLongestWaitSeconds = 10;

int ReconnectPolicy::NextWaitSeconds() {
  int wait = nextWait_;
  nextWait_ = std::min(nextWait_ * 2, kLongestWaitSeconds);
  return wait;
}

void ReconnectPolicy::Connected() {
  nextWait_ = 1;
  refusalsInARow_ = 0;
}

bool ReconnectPolicy::Failed(bool refused) {
  refusalsInARow_ = refused ? refusalsInARow_ + 1 : 0;
  return refusalsInARow_ < kMaxRefusals;
}

}  // namespace verbena
