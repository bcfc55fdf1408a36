// quillon-publisher: start-up. Makes the program's folder the current directory, turns the launch
// URL into the publishing address (or opens a fast class), then runs the window; the operator
// options print what they are asked for and end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/publisher_app.h"
#include "app/show_settings.h"
#include "base/display_info.h"
#include "base/log.h"
#include "base/program_folder.h"
#include "base/user_messages.h"
#include "launch/launch_url.h"
#ifdef _WIN32
#include "app/text_console.h"
#endif

namespace quillon {
const char* ProgramVersion();
}  // namespace quillon

namespace {

using namespace quillon;

int Run(int argc, char** argv) {
  // bench/startup_latency reads where the time of a start goes.
  if (const char* timing = std::getenv("QUILLON_TIMING"); timing && std::strcmp(timing, "1") == 0)
    EnableTimingLog(true);
  LogTiming("main");
  const CommandLine command_line =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
#ifdef _WIN32
  // The program is windowed; the text commands write to the console they were started from.
  if (command_line.Kind != Command::kStart) UseParentConsole();
#endif
  switch (command_line.Kind) {
    case Command::kError:
      LogError("%s\nTry \"quillon-publisher --help\".", command_line.Error.c_str());
      return 2;
    case Command::kHelp:
      std::fputs(UsageText(), stdout);
      return 0;
    case Command::kVersion:
      std::printf("quillon-publisher %s\n", ProgramVersion());
      return 0;
    case Command::kShowSettings: {
      MakeProgramFolderCurrent();
      const auto display = CreateSystemDisplayInfo();
      return ShowSettings(*display, std::cout, std::cerr, SettingsFileIn(ProgramFolder()));
    }
    case Command::kHeadless:
      MakeProgramFolderCurrent();
      return RunHeadless(command_line, ProgramFolder());
    case Command::kListDevices:
      return RunListDevices();
    case Command::kStart:
      return RunPublisherApp(argc, argv, command_line, ProgramFolder());
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing of ours throws on purpose. Should something on this thread still throw (memory
  // running out), the stack is unwound rather than the process aborted, so that a running class
  // is stopped by its owners as on any other exit and its recording is closed whole.
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    quillon::LogError("stopped by an unexpected error: %s", error.what());
  } catch (...) {
    quillon::LogError("stopped by an unexpected error");
  }
  return 70;
}
