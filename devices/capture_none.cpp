// Stand-ins for the camera and sound capture where this build has none: opening always fails, so
// a class runs without camera picture and without sound. The platform's real captures replace
// these factories.
#include <cstdio>

#include "devices/capture_audio.h"
#include "devices/capture_video.h"

namespace quillon {
namespace {

class NoCaptureVideo final : public CCaptureVideo {
 public:
  int Open(int32_t, PreviewWindow, int32_t, int32_t, int32_t) override {
    std::fprintf(stderr, "quillon-publisher: this build has no camera capture\n");
    return 1;
  }
  int Stop() override { return 0; }
  void SetFrameSink(bool, VideoFrameSink*) override {}
};

class NoCaptureAudio final : public CCaptureAudio {
 public:
  bool Open(const AudioDeviceId*) override { return false; }
  int SetRecording(bool, AudioDataSink*) override { return 0; }
  bool Close() override { return true; }
};

}  // namespace

std::unique_ptr<CCaptureVideo> CreateCaptureVideo() {
  return std::make_unique<NoCaptureVideo>();
}
std::unique_ptr<CCaptureAudio> CreateCaptureAudio() {
  return std::make_unique<NoCaptureAudio>();
}

}  // namespace quillon
