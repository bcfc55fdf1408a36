// The desktop portal's ScreenCast interface on the session bus: one monitor shared for the
// lifetime of this object, the permission kept as a restore token in a file so that the next
// class starts without asking again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "capture/screen_grabber.h"

namespace quillon {

struct SharedMonitor {
  int RemoteFd = -1;            // a PipeWire connection for the stream; the receiver closes it
  uint32_t Node = 0;            // the monitor's video node
  bool CursorMetadata = false;  // the pointer comes as stream metadata, not in the picture
};

class ScreenCastPortal {
 public:
  // tokenFile: where the restore token is kept between classes (empty: nowhere).
  explicit ScreenCastPortal(std::filesystem::path tokenFile);
  ~ScreenCastPortal();  // closes the session: the sharing ends
  ScreenCastPortal(const ScreenCastPortal&) = delete;
  ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

  // Creates the session, selects one monitor (with the kept token, if any, so that the portal
  // may skip its dialog), starts it and opens the PipeWire remote. Waits for the teacher's
  // answer up to dialogSeconds. kNone with *monitor filled, or why not (the log says more).
  ScreenProblem Share(SharedMonitor* monitor, int dialogSeconds = 300);

 private:
  struct Bus;
  std::filesystem::path tokenFile_;
  std::unique_ptr<Bus> bus_;
};

}  // namespace quillon
