// The start-up steps before the window opens: where the class publishes to.
#pragma once

#include <string_view>

#include "base/user_messages.h"

namespace quillon {

// Registers the URL scheme (which makes the program's folder the current directory), then stores
// the launch URL's address in config.ini or, without a launch URL (empty), opens a fast class and
// tells its number through messages.
void PrepareClassAddress(std::string_view launchUrl, UserMessages& messages);

}  // namespace quillon
