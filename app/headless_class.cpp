// quillon-publisher --headless: a class without the window, for scripts and lecture-hall
// machines. Start-up as the window does it (launch URL or fast class), the settings read and
// checked, a class started without preview, published until SIGINT/SIGTERM (on Windows Ctrl+C or
// closing the console) or the duration, and ended cleanly.
#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <time.h>

#include <cerrno>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "app/publisher_app.h"
#include "base/display_info.h"
#include "base/log.h"
#include "base/user_messages.h"
#include "capture/capture_session.h"
#include "capture/class_status.h"
#include "devices/device_lists.h"
#include "devices/device_messages.h"
#include "launch/launch_url.h"
#include "launch/settings.h"
#include "launch/settings_check.h"

namespace quillon {
namespace {

#if defined(_WIN32)

// Ctrl+C, Ctrl+Break and closing the console end the class. The system calls the handler on a
// thread of its own and ends the process when a close-type handler returns, so the handler
// waits (a few seconds at most) for the class to end cleanly first.
class EndRequest {
 public:
  EndRequest() {
    requested_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ended_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
  ~EndRequest() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    CloseHandle(requested_);
    CloseHandle(ended_);
  }
  EndRequest(const EndRequest&) = delete;
  EndRequest& operator=(const EndRequest&) = delete;

  // Waits at most milliseconds; true when an end was asked for.
  bool WaitUpTo(int milliseconds) {
    if (WaitForSingleObject(requested_, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
      return false;
    LogInfo("stop requested, ending the class");
    return true;
  }
  // The class has ended: a waiting handler may let the process go.
  void Ended() { SetEvent(ended_); }

 private:
  static BOOL WINAPI OnConsoleEvent(DWORD event) {
    SetEvent(requested_);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
      WaitForSingleObject(ended_, 4000);
    return TRUE;
  }

  // The handler is a plain function: the events it sets are the process's.
  static inline HANDLE requested_ = nullptr;
  static inline HANDLE ended_ = nullptr;
};

#else

// SIGINT and SIGTERM end the class. They are blocked in every thread (the constructor runs
// before any thread exists, so every thread inherits the mask) and wait for Wait instead of
// killing the process mid-frame.
class EndRequest {
 public:
  EndRequest() {
    sigemptyset(&stopSignals_);
    sigaddset(&stopSignals_, SIGINT);
    sigaddset(&stopSignals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals_, nullptr);
  }

  // Waits at most milliseconds (1 to 999); true when SIGINT or SIGTERM arrived.
  bool WaitUpTo(int milliseconds) {
    const timespec wait{0, static_cast<long>(milliseconds) * 1000000};
    const int signal = sigtimedwait(&stopSignals_, nullptr, &wait);
    if (signal != SIGINT && signal != SIGTERM) return false;
    LogInfo("%s received, ending the class", signal == SIGINT ? "SIGINT" : "SIGTERM");
    return true;
  }
  void Ended() {}

 private:
  sigset_t stopSignals_;
};

#endif

}  // namespace

int RunHeadless(const CommandLine& commandLine, const std::filesystem::path& programFolder) {
  // Before any thread exists.
  EndRequest endRequest;

  StreamMessages toStdout(std::cout);
  StreamMessages toStderr(std::cerr);
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  RestoreMissingSettings(settingsFile, toStderr);
  switch (StoreLaunchUrl(commandLine.LaunchUrl, settingsFile, toStderr)) {
    case LaunchUrlResult::kNone:
      // A class number that could not be stored names no class: nothing is published.
      if (!StartFastClass(toStdout, settingsFile, &toStderr)) return 1;
      break;
    case LaunchUrlResult::kRefused:
    case LaunchUrlResult::kNotSaved:
      return 1;  // the class is not published anywhere else instead
    case LaunchUrlResult::kStored:
      break;
  }

  WindowSettings window;
  const std::unique_ptr<DisplayInfo> display = CreateSystemDisplayInfo();
  if (!ReadSettings(window, *display, toStderr, settingsFile)) return 1;
  PublisherSettings& settings = *window.Record;
  if (std::string problem = CheckClassSettings(settings); !problem.empty()) {
    toStderr.Show(problem);
    return 1;
  }
  if (settings.HaveAudio != 0) {
    if (std::string problem = CheckSoundSettings(settings); !problem.empty())
      toStderr.Show(problem);
  }
  // The sound device the window selects at start-up: the second entry of the sound list, the
  // system's default source. Device messages go to stderr while the class runs.
  settings.AudioDevice = SoundChoice(ListSoundDevices(), kStartupSoundPosition);
  ScopedUserMessages deviceMessages(toStderr);

  auto session = std::make_unique<CaptureSession>(settings, PlatformCaptureParts(programFolder));
  // Ctrl+C while the start waits (for the teacher's answer in the screen-sharing dialog, or the
  // connection) calls the start off: the dialog is taken back and the program ends at once.
  std::atomic<bool> starting{true};
  std::atomic<bool> endedWhileStarting{false};
  std::thread startWatch([&] {
    while (starting) {
      if (endRequest.WaitUpTo(100)) {
        endedWhileStarting = true;
        session->CancelStart();
        return;
      }
    }
  });
  const bool started = session->Start(0);
  starting = false;
  startWatch.join();
  if (started && endedWhileStarting) {
    session->Stop();
    session.reset();
    LogInfo("class ended before it was published");
    endRequest.Ended();
    return 0;
  }
  if (!started) {
    const std::string message = ConnectFailedMessage(session->StartFailure(), settings.PublishUrl);
    session.reset();
    toStderr.Show(message);
    endRequest.Ended();
    return 1;
  }
  LogInfo("class %s publishing to %s (picture type %d, %dx%d, %d frames/s); stop with Ctrl+C",
          window.StreamName.c_str(), settings.PublishUrl.c_str(), settings.VideoStyle,
          session->Params().Width, session->Params().Height, settings.FrameRate);
  // The status once a second: printed when it changes and every status interval.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point begin = Clock::now();
  ClassStatusTracker tracker(PublishTarget(settings.PublishUrl));
  double nextLine = 0;
  for (;;) {
    const double now = std::chrono::duration<double>(Clock::now() - begin).count();
    const double left = commandLine.DurationSeconds > 0 ? commandLine.DurationSeconds - now : 1;
    if (left <= 0) break;
    const ClassStatusTracker::Status status = tracker.Update(now, session->Read());
    if (status.changed || (commandLine.StatusIntervalSeconds > 0 && now >= nextLine)) {
      LogInfo("status: %s", status.line.c_str());
      nextLine = now + commandLine.StatusIntervalSeconds;
    }
    if (endRequest.WaitUpTo(std::clamp(static_cast<int>(left * 1000), 1, 999))) break;
  }
  session->Stop();
  session.reset();
  LogInfo("class ended");
  endRequest.Ended();
  return 0;
}

}  // namespace quillon
