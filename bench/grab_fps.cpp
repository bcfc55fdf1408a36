// Grabs the desktop at 1920x1080 as fast as it can and prints the frames per second and the
// process's CPU milliseconds per frame (the PipeWire thread's share included):
//   grab_fps :N [frames]       the X display :N (bench/grab_vs_ffmpeg runs it beside FFmpeg)
//   grab_fps portal [frames]   the ScreenCast portal of the session bus (bench/grab_wayland_vs_x11)
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/screen_grabber_portal.h"
#include "capture/screen_grabber_x11.h"

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab_fps DISPLAY|portal [FRAMES]\n");
    return 2;
  }
  const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
  std::unique_ptr<quillon::ScreenGrabber> grabber;
  if (std::strcmp(argv[1], "portal") == 0) {
    grabber = std::make_unique<quillon::ScreenGrabberPortal>("");
    if (grabber->Prepare() != quillon::ScreenProblem::kNone) return 1;
  } else {
    auto x11 = std::make_unique<quillon::ScreenGrabberX11>(argv[1]);
    if (!x11->Connected()) return 1;
    grabber = std::move(x11);
  }
  std::vector<uint8_t> picture(1920 * 1080 * 3);
  grabber->GrabScreen(picture.data(), 1920, 1080);  // like FFmpeg, not counting the set-up
  const double cpuBefore = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) grabber->GrabScreen(picture.data(), 1920, 1080);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%.1f %.2f\n", frames / seconds.count(), (CpuSeconds() - cpuBefore) * 1000 / frames);
  return 0;
}
