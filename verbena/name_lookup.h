// Host names looked up where a deadline can be kept: the system's lookup runs on a thread of its
// own, which is left to finish alone when the deadline passes or the caller gives up. A resolver
// that never answers then costs the class no more than the deadline, and a stop never waits for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace verbena {

struct NameLookup {
  enum class Result { kFound, kNotFound, kNoAnswer, kAborted };
  Result result = Result::kNoAnswer;
  std::vector<std::string> addresses;  // numeric, in the system's order of preference
};

// Looks host up for a TCP connection; waits until deadlineUs (av_gettime_relative's clock) or
// until *abort (may be nullptr) is set. A numeric address comes back as it is, at once.
NameLookup LookUpHost(const std::string& host, int64_t deadlineUs, const std::atomic<bool>* abort);

// The same with another lookup than the system's (tests stand in a resolver that hangs).
using LookupFunction = NameLookup (*)(const std::string& host);
NameLookup LookUpHostWith(LookupFunction lookup, const std::string& host, int64_t deadlineUs,
                          const std::atomic<bool>* abort);

}  // namespace verbena
