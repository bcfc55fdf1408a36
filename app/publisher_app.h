// The program's entry points after the command line is parsed: the window, a class without the
// window, and the device list. Each returns the process exit code.
#pragma once

#include "app/command_line.h"

namespace quillon {

// Runs the program until its window closes.
int RunPublisherApp(int argc, char** argv, const CommandLine& commandLine);

// Runs a class without the window: reads the settings, starts the capture session, stops after
// DurationSeconds or on SIGINT/SIGTERM. The program's folder is already the current directory.
int RunHeadless(const CommandLine& commandLine);

// Prints the cameras and sound devices the program can see.
int RunListDevices();

}  // namespace quillon
