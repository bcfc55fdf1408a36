// The session's parts on this platform.
#include "base/log.h"
#include "capture/capture_session.h"

namespace quillon {

CaptureParts PlatformCaptureParts(const std::filesystem::path& programFolder,
                                  std::shared_ptr<const EncoderLibrary> encoder) {
  CaptureParts parts;
  parts.Encoder = encoder ? std::move(encoder) : LoadEncoderLibraryFromFolder(programFolder);
  LogTiming("encoder library ready");
  parts.Camera = CreateCaptureVideo();
  parts.Sound = CreateCaptureAudio();
  parts.Screen = CreateScreenGrabber(programFolder);  // beside config.ini
  LogTiming("camera, sound and screen made");
  return parts;
}

}  // namespace quillon
