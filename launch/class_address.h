// The start-up steps before the window opens: where the class publishes to.
#pragma once

#include <filesystem>
#include <string_view>

#include "base/user_messages.h"

namespace quillon {

// Registers the URL scheme (which makes the program's folder the current directory), then stores
// the launch URL's address in config.ini of programFolder (unless AllowedHosts refuses its host,
// which messages tells) or, without a launch URL (empty), opens a fast class and tells its number
// through messages. A config.ini that cannot be written is left as it is; messages tells that.
// Returns false when nothing was stored.
bool PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages);

// For a window that already runs, a link (or, empty, a fast class) handed over by a later start:
// stored in config.ini of programFolder as PrepareClassAddress stores it, except that a link
// whose address names no class is refused with "参数有误!" instead of stored, so the class in the
// window stays usable. false when nothing was stored (messages has said why).
bool TakeClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                      UserMessages& messages);

}  // namespace quillon
