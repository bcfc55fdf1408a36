// The desktop portal's ScreenCast interface on the session bus: one monitor shared for the
// lifetime of this object, the permission kept as a restore token in a file so that the next
// class starts without asking again.
#pragma once

#include <atomic>
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
  int32_t Width = 0;            // the monitor's size as the portal gives it, 0 when it does not
  int32_t Height = 0;
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
  // answer up to dialogSeconds. kNone with *monitor filled, or why not (the log says more). A
  // share that fails closes its session.
  ScreenProblem Share(SharedMonitor* monitor, int dialogSeconds = 300);

  // From any thread: a Share in progress closes its pending request (the portal's dialog goes
  // away) and its session, and returns kCancelled soon; a later Share returns it at once.
  void Cancel();

  // True once the portal has closed the shared session (the teacher stopped sharing from the
  // desktop's own indicator, or the desktop ended it). From any thread.
  bool SessionClosed() const;

 private:
  struct Bus;
  ScreenProblem ShareSteps(SharedMonitor* monitor, int dialogSeconds);

  std::filesystem::path tokenFile_;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<Bus> bus_;
};

}  // namespace quillon
