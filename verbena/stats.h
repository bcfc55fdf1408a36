// Counters that the library's threads update and VERBENA_GetStats reads.
#pragma once

#include <atomic>
#include <cstdint>

namespace verbena {

struct Stats {
  std::atomic<uint64_t> picturesIn{0};
  std::atomic<uint64_t> picturesSent{0};     // reached the server
  std::atomic<uint64_t> picturesDropped{0};  // left out before encoding (encoder or link behind)
  std::atomic<uint64_t> soundBlocks{0};
  std::atomic<uint64_t> silenceBlocks{0};  // blocks of silence filled into the sound track
  std::atomic<uint64_t> bytesSent{0};
  std::atomic<uint32_t> bitrateKbps{0};
  std::atomic<uint32_t> targetKbps{0};  // the video rate the encoder aims at now
  std::atomic<uint32_t> reconnects{0};
  std::atomic<uint32_t> failedAttempts{0};  // reconnect attempts that failed since the loss
  std::atomic<bool> connected{false};
  std::atomic<bool> gaveUp{false};        // the server refused the stream: no more attempts
  std::atomic<uint32_t> startFailure{0};  // why Start failed (start_failure.h), 0 when it did not
};

}  // namespace verbena
