// The program's normal start with its window: register the URL scheme, take the launch URL or
// open a fast class, run the main window, remove the skin.
#pragma once

#include "launch/command_line.h"
#include "launch/user_messages.h"

namespace quillon {

// The start-up steps before the window opens: registers the URL scheme (which makes the
// program's folder the current directory), then stores the launch URL's address in config.ini
// or, without a launch URL, opens a fast class and tells its number through messages.
void PrepareClassAddress(const CommandLine& commandLine, UserMessages& messages);

// Runs the program until its window closes. Returns the process exit code.
int RunPublisherApp(int argc, char** argv, const CommandLine& commandLine);

}  // namespace quillon
