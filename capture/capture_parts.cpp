// The session's parts on this platform.
#include "base/log.h"
#include "capture/capture_session.h"

namespace quillon {

CaptureParts PlatformCaptureParts(const std::filesystem::path& programFolder) {
  CaptureParts parts;
  parts.Encoder = LoadEncoderLibraryFromFolder(programFolder);
  LogTiming("encoder library loaded");
  parts.Camera = CreateCaptureVideo();
  parts.Sound = CreateCaptureAudio();
  parts.Screen = CreateScreenGrabber(programFolder);  // beside config.ini
  LogTiming("camera, sound and screen made");
  return parts;
}

}  // namespace quillon
