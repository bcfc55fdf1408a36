// The frame tick per picture type at 1920x1080 desktop / 640x480 camera, with the real X11 grab
// on a private Xvfb and the recording encoder in its light mode; plus the desktop grab and the
// row conversion on their own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/testing/xvfb.h"
#include "capture/capture_session.h"
#include "capture/pixel_convert.h"
#include "capture/screen_grabber_x11.h"

namespace quillon {
namespace {

testing::XvfbServer* server = nullptr;

class NoCamera final : public CCaptureVideo {
 public:
  int Open(int32_t, PreviewWindow, int32_t, int32_t, int32_t) override { return 1; }
  void Stop() override {}
  void SetFrameSink(bool, VideoFrameSink*) override {}
};

void BM_Tick(benchmark::State& state) {
  PublisherSettings settings;
  settings.VideoStyle = static_cast<int32_t>(state.range(0));
  settings.ScreenWidth = 1920;
  settings.ScreenHeight = 1080;
  settings.VideoWidth = 640;
  settings.VideoHeight = 480;
  settings.ScreenRate = 4;
  settings.FrameRate = 0;  // no timer: the benchmark calls the tick itself
  settings.PublishUrl = "rtmp://127.0.0.1/live/bench";
  CaptureParts parts;
  parts.Encoder = LoadEncoderLibrary(QUILLON_FAKE_VERBENA_PATH);
  parts.Camera = std::make_unique<NoCamera>();
  parts.Screen = std::make_unique<ScreenGrabberX11>(server->Display());
  CaptureSession session(settings, std::move(parts));
  if (!session.Start(0)) {
    state.SkipWithError("the encoder did not start");
    return;
  }
  std::vector<uint8_t> frame(640 * 480 * 3, 0x80);
  session.OnVideoFrame(0.0, frame.data(), static_cast<int32_t>(frame.size()));
  for (auto _ : state) session.OnTick();
  state.SetItemsProcessed(state.iterations());
  session.Stop();
}
BENCHMARK(BM_Tick)->ArgName("VideoStyle")->Arg(0)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_GrabScreen(benchmark::State& state) {
  ScreenGrabberX11 grabber(server->Display(), state.range(0) != 0);
  std::vector<uint8_t> picture(1920 * 1080 * 3);
  grabber.GrabScreen(picture.data(), 1920, 1080);  // the first grab touches the segment's pages
  for (auto _ : state) grabber.GrabScreen(picture.data(), 1920, 1080);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GrabScreen)->ArgName("shm")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

template <void (*Convert)(const uint8_t*, uint8_t*, int32_t)>
void BM_ConvertFrame(benchmark::State& state) {
  std::vector<uint8_t> source(1920 * 1080 * 4, 0x5A);
  std::vector<uint8_t> destination(1920 * 1080 * 3);
  for (auto _ : state) {
    for (int row = 0; row < 1080; ++row) {
      Convert(source.data() + row * 1920 * 4, destination.data() + (1079 - row) * 1920 * 3, 1920);
    }
    benchmark::DoNotOptimize(destination.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{1920} * 1080 * 4);
}
BENCHMARK(BM_ConvertFrame<ConvertBgrxToBgrPlain>)->Name("BM_ConvertFrame/plain");
#if defined(__x86_64__)
BENCHMARK(BM_ConvertFrame<ConvertBgrxToBgrSsse3>)->Name("BM_ConvertFrame/ssse3");
BENCHMARK(BM_ConvertFrame<ConvertBgrxToBgrAvx2>)->Name("BM_ConvertFrame/avx2");
#endif

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  setenv("FAKE_VERBENA_LIGHT", "1", 1);
  if (!quillon::testing::XvfbServer::Installed()) {
    std::fprintf(stderr, "capture_tick_bench: Xvfb is not installed\n");
    return 1;
  }
  quillon::testing::XvfbServer xvfb(1920, 1080);
  if (!xvfb.Running()) {
    std::fprintf(stderr, "capture_tick_bench: Xvfb did not start\n");
    return 1;
  }
  quillon::server = &xvfb;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
