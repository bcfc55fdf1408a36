// The session's parts on this platform.
#include "capture/capture_session.h"

namespace quillon {

CaptureParts PlatformCaptureParts() {
  CaptureParts parts;
  parts.Encoder = LoadEncoderLibraryFromProgramFolder();
  parts.Camera = CreateCaptureVideo();
  parts.Sound = CreateCaptureAudio();
  parts.Screen = CreateScreenGrabber();
  return parts;
}

}  // namespace quillon
