#include "devices/grabber_callback.h"

namespace quillon {

GrabberCallback& TheGrabberCallback() {
  static GrabberCallback callback;
  return callback;
}

}  // namespace quillon
