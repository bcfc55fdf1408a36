// Grabs the X display given as the first argument at 1920x1080 as fast as it can and prints the
// frames per second: grab_fps :N [frames]. Used by grab_vs_ffmpeg beside FFmpeg's X11 grabber.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture/screen_grabber_x11.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: grab_fps DISPLAY [FRAMES]\n");
    return 2;
  }
  const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
  quillon::ScreenGrabberX11 grabber(argv[1]);
  if (!grabber.Connected()) return 1;
  std::vector<uint8_t> picture(1920 * 1080 * 3);
  grabber.GrabScreen(picture.data(), 1920, 1080);  // like FFmpeg, not counting the set-up
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) grabber.GrabScreen(picture.data(), 1920, 1080);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%.1f\n", frames / seconds.count());
  return 0;
}
