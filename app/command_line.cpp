#include "app/command_line.h"

#include <charconv>
#include <string_view>

namespace quillon {
namespace {

CommandLine Fail(std::string error) {
  CommandLine result;
  result.Kind = Command::kError;
  result.Error = std::move(error);
  return result;
}

bool IsOption(std::string_view argument) {
  return argument.starts_with("--");
}

// The options of --headless that take a whole number of seconds.
struct SecondsOption {
  std::string_view name;
  int CommandLine::*field;
  int least;
  int most;
};
constexpr SecondsOption kSecondsOptions[] = {
    {"--duration", &CommandLine::DurationSeconds, 1, 7 * 24 * 3600},
    {"--status-interval", &CommandLine::StatusIntervalSeconds, 0, 24 * 3600},
};

bool ParseSeconds(std::string_view text, const SecondsOption& option, int& seconds) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < option.least || value > option.most) return false;
  seconds = value;
  return true;
}

// The option of kSecondsOptions that argument names ("--name" or "--name=VALUE"), or none.
const SecondsOption* SecondsOptionOf(std::string_view argument) {
  for (const SecondsOption& option : kSecondsOptions) {
    if (argument == option.name ||
        (argument.starts_with(option.name) && argument.substr(option.name.size()).starts_with("=")))
      return &option;
  }
  return nullptr;
}

// The options that stand alone: no other argument may come with them.
struct SoleOption {
  std::string_view name;
  Command kind;
};
constexpr SoleOption kSoleOptions[] = {
    {"--show-settings", Command::kShowSettings},
    {"--list-devices", Command::kListDevices},
    {"--help", Command::kHelp},
    {"-h", Command::kHelp},
    {"--version", Command::kVersion},
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  if (arguments.empty()) return result;
  const std::string& first = arguments.front();
  for (const SoleOption& option : kSoleOptions) {
    if (first != option.name) continue;
    if (arguments.size() > 1) {
      return Fail(std::string(option.name) + " takes no other argument, but got \"" + arguments[1] +
                  "\"");
    }
    result.Kind = option.kind;
    return result;
  }
  std::size_t next = 0;
  if (first == "--headless") {
    result.Kind = Command::kHeadless;
    next = 1;
  }
  for (; next < arguments.size(); ++next) {
    const std::string& argument = arguments[next];
    const SecondsOption* seconds =
        result.Kind == Command::kHeadless ? SecondsOptionOf(argument) : nullptr;
    if (seconds != nullptr) {
      const std::string name(seconds->name);
      std::string value;
      if (argument == seconds->name) {
        if (next + 1 >= arguments.size()) return Fail(name + " needs a number of seconds");
        value = arguments[++next];
      } else {
        value = argument.substr(seconds->name.size() + 1);
      }
      if (!ParseSeconds(value, *seconds, result.*(seconds->field))) {
        return Fail(name + " needs a whole number of seconds from " +
                    std::to_string(seconds->least) + " to " + std::to_string(seconds->most) +
                    ", not \"" + value + "\"");
      }
    } else if (IsOption(argument)) {
      return Fail("unknown option \"" + argument + "\"");
    } else if (result.HasLaunchUrl) {
      return Fail("only one launch URL can be given, but got also \"" + argument + "\"");
    } else {
      result.HasLaunchUrl = true;
      result.LaunchUrl = argument;
    }
  }
  return result;
}

const char* UsageText() {
  return "Usage: quillon-publisher [LAUNCH_URL]\n"
         "       quillon-publisher --headless [--duration SECONDS] [--status-interval SECONDS]\n"
         "                         [LAUNCH_URL]\n"
         "       quillon-publisher --show-settings | --list-devices | --help | --version\n"
         "\n"
         "Publishes a class: the desktop, a camera or both, with sound, to an RTMP server.\n"
         "LAUNCH_URL (quillon.publish://...) carries the class's publishing address, which is\n"
         "stored in config.ini beside the program; without it the program opens a fast class on\n"
         "the default publishing server and tells you its class number.\n"
         "\n"
         "Options:\n"
         "  --headless          run the class without the window, with config.ini's settings\n"
         "  --duration SECONDS  with --headless: end the class after this many seconds\n"
         "  --status-interval SECONDS\n"
         "                      with --headless: print the class's status this often (default\n"
         "                      10; 0: only when it changes)\n"
         "  --show-settings     print the settings as the window reads them from config.ini\n"
         "  --list-devices      print the cameras and sound devices\n"
         "  --help, -h          print this text\n"
         "  --version           print the program's version\n"
         "\n"
         "Environment:\n"
         "  QUILLON_DEFAULT_SERVER  host of the fast-class publishing server\n"
         "\n"
         "Exit status:\n"
         "  0  done\n"
         "  1  --headless: no class published (config.ini unreadable or unwritable, unusable\n"
         "     values, a link refused, no connection); without a display: no address stored\n"
         "  2  unusable command line; --show-settings: config.ini unreadable or its address\n"
         "     unusable\n";
}

}  // namespace quillon
