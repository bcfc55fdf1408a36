// The start-up steps before the window opens: where the class publishes to.
#pragma once

#include <filesystem>
#include <string_view>

#include "base/user_messages.h"

namespace quillon {

// Registers the URL scheme (which makes the program's folder the current directory), then stores
// the launch URL's address in config.ini of programFolder (unless AllowedHosts refuses its host,
// which messages tells) or, without a launch URL (empty), opens a fast class and tells its number
// through messages.
void PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages);

}  // namespace quillon
