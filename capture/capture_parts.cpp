// The session's parts on this platform.
#include "capture/capture_session.h"

namespace quillon {

CaptureParts PlatformCaptureParts(const std::filesystem::path& programFolder) {
  CaptureParts parts;
  parts.Encoder = LoadEncoderLibraryFromFolder(programFolder);
  parts.Camera = CreateCaptureVideo();
  parts.Sound = CreateCaptureAudio();
  parts.Screen = CreateScreenGrabber(programFolder);  // beside config.ini
  return parts;
}

}  // namespace quillon
