// The pictures of one shared monitor as a PipeWire stream: 32-bit pixels in shared memory, the
// newest one held until a newer arrives, so the frame tick converts it without waiting for the
// compositor. A stream that stalls or goes away leaves the last picture in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace quillon {

class PipeWireDesktop {
 public:
  PipeWireDesktop();
  ~PipeWireDesktop();
  PipeWireDesktop(const PipeWireDesktop&) = delete;
  PipeWireDesktop& operator=(const PipeWireDesktop&) = delete;

  // Connects through remoteFd (a PipeWire connection the screen-sharing service opened; taken
  // over) to the video node and waits up to waitMilliseconds for the first picture. false when
  // none came; the stream still runs and a later picture is shown.
  bool Connect(int remoteFd, uint32_t node, int waitMilliseconds);

  // The newest picture's top-left width x height as 24-bit bottom-up rows into buffer, black
  // beyond the monitor. false, and the buffer untouched, before the first picture.
  bool Read(uint8_t* buffer, int32_t width, int32_t height);
  // The pointer's hot spot from the stream's cursor metadata, in the monitor's pixels from its
  // top-left; none when the stream carries no such metadata.
  std::optional<std::pair<int32_t, int32_t>> Pointer();

  // The monitor's size as the stream negotiated it; none before the first picture.
  std::optional<std::pair<int32_t, int32_t>> Size();
  // Pictures stop being taken: Read shows the last one from now on (the sharing has ended).
  void Freeze();
  // True once the stream has ended (PipeWire went away, the node was removed) or was frozen.
  bool Ended();

  // True while the stream delivers (for tests and the log).
  bool Streaming();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quillon
