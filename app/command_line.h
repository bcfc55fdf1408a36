// The program's command line: the launch URL a web page starts it with, and the options for
// people and scripts that run it from a terminal. Options start with "--"; a launch URL never does.
#pragma once

#include <string>
#include <vector>

namespace quillon {

enum class Command {
  kStart,         // the normal start: launch URL or fast class, then the window
  kShowSettings,  // --show-settings
  kHeadless,      // --headless [--duration SECONDS] [--status-interval SECONDS] [LAUNCH_URL]
  kListDevices,   // --list-devices
  kHelp,          // --help, -h
  kVersion,       // --version
  kError,         // unusable command line; Error says why
};

struct CommandLine {
  Command Kind = Command::kStart;
  bool HasLaunchUrl = false;
  std::string LaunchUrl;           // the argument as given (kStart, kHeadless)
  int DurationSeconds = 0;         // --duration (kHeadless); 0: run until stopped
  int StatusIntervalSeconds = 10;  // --status-interval (kHeadless); 0: only on changes
  std::string Error;               // kError
};

// Parses the arguments after the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
const char* UsageText();

}  // namespace quillon
