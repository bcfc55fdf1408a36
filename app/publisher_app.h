// The program's entry points after the command line is parsed: the window, a class without the
// window, and the device list. Each returns the process exit code.
#pragma once

#include <filesystem>

#include "app/command_line.h"

namespace quillon {

// Runs the program until its window closes. programFolder holds config.ini, the page, the skin
// and the encoder library.
int RunPublisherApp(int argc, char** argv, const CommandLine& commandLine,
                    const std::filesystem::path& programFolder);

// Runs a class without the window: reads the settings, starts the capture session, stops after
// DurationSeconds or on SIGINT/SIGTERM.
int RunHeadless(const CommandLine& commandLine, const std::filesystem::path& programFolder);

// Prints the cameras and sound devices the program can see.
int RunListDevices();

}  // namespace quillon
