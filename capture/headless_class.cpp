// quillon-publisher --headless: a class without the window, for scripts and lecture-hall
// machines. Start-up as the window does it (launch URL or fast class), the settings read and
// checked, a class started without preview, published until SIGINT/SIGTERM or the duration, and
// ended cleanly.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "capture/capture_session.h"
#include "launch/command_line.h"
#include "launch/display_info.h"
#include "launch/launch_url.h"
#include "launch/settings.h"
#include "launch/settings_check.h"
#include "launch/user_messages.h"

namespace quillon {
namespace {

constexpr char kConnectFailed[] = "连接服务器失败";

// Waits until SIGINT or SIGTERM arrives (they are blocked in every thread, so they queue up
// here) or, with a positive duration, until that many seconds have passed.
void WaitForEnd(const sigset_t& stopSignals, int durationSeconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(durationSeconds);
  for (;;) {
    timespec wait{1, 0};
    if (durationSeconds > 0) {
      auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now());
      if (left.count() <= 0) return;
      if (left < std::chrono::seconds(1)) wait = {0, static_cast<long>(left.count())};
    }
    int signal = sigtimedwait(&stopSignals, nullptr, &wait);
    if (signal == SIGINT || signal == SIGTERM) {
      std::fprintf(stderr, "quillon-publisher: %s received, ending the class\n",
                   signal == SIGINT ? "SIGINT" : "SIGTERM");
      return;
    }
  }
}

}  // namespace

int RunHeadless(const CommandLine& commandLine) {
  // Block the stop signals before any thread exists, so every thread inherits the mask and the
  // signals wait for WaitForEnd instead of killing the process mid-frame.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  StreamMessages toStdout(std::cout);
  StreamMessages toStderr(std::cerr);
  if (HandleLaunchUrl(commandLine.LaunchUrl) == 0) StartFastClass(toStdout);

  WindowSettings window;
  const std::unique_ptr<DisplayInfo> display = CreateSystemDisplayInfo();
  if (ReadSettings(window, *display, toStderr) == 0) return 1;
  PublisherSettings& settings = *window.Record;
  if (std::string problem = CheckClassSettings(settings); !problem.empty()) {
    toStderr.Show(problem);
    return 1;
  }
  // The window would take the sound device from its list; without one no device is opened.
  settings.AudioDevice = nullptr;

  auto session = std::make_unique<CaptureSession>(settings, PlatformCaptureParts());
  if (session->Start(0) == 0) {
    session.reset();
    toStderr.Show(kConnectFailed);
    return 1;
  }
  std::fprintf(stderr,
               "quillon-publisher: class %s publishing to %s (picture type %d, %dx%d, %d "
               "frames/s); stop with Ctrl+C\n",
               window.StreamName.c_str(), settings.PublishUrl.c_str(), settings.VideoStyle,
               session->Params().Width, session->Params().Height, settings.FrameRate);
  WaitForEnd(stopSignals, commandLine.DurationSeconds);
  session->Stop();
  session.reset();
  std::fprintf(stderr, "quillon-publisher: class ended\n");
  return 0;
}

}  // namespace quillon
