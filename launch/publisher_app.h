// The program's normal start with its window: register the URL scheme, take the launch URL or
// open a fast class, run the main window, remove the skin.
#pragma once

#include "launch/command_line.h"

namespace quillon {

// Runs the program until its window closes. Returns the process exit code.
int RunPublisherApp(int argc, char** argv, const CommandLine& commandLine);

}  // namespace quillon
