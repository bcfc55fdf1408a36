// When to try the server again after the connection broke: waits of 1, 2, 4, 8, 10, 10 ...
// seconds; and when to give up because the server keeps refusing the stream.
#pragma once

namespace verbena {

class ReconnectPolicy {
 public:
  // A server that answered but refused the stream this many times in a row is given up on.
  static constexpr int kMaxRefusals = 5;

  // Seconds to wait before the next attempt; each call doubles the next wait up to 10 s.
  int NextWaitSeconds();
  // The connection is up again: the next break starts over at 1 s.
  void Connected();
  // An attempt failed; refused tells whether the server answered and turned the stream down
  // (rather than being unreachable). Returns false once it is time to give up.
  bool Failed(bool refused);

 private:
  int nextWait_ = 1;
  int refusalsInARow_ = 0;
};

}  // namespace verbena
