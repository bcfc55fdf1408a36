// The launch URL that a web page starts the program with, and the fast class that the program
// opens when started without one. Both store the publishing address as Device/Address.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/user_messages.h"
#include "launch/settings.h"

namespace quillon {

// "quillon.publish://", skipped unchecked at the start of a launch URL.
inline constexpr std::size_t kLaunchUrlPrefixLength = 18;
// The longest payload after the prefix that is read; the rest of a longer one is ignored.
inline constexpr std::size_t kLaunchPayloadLimit = 511;

// Decodes "%" and two hexadecimal digits into their byte; everything else, "+" and a "%" without
// two digits after it included, passes unchanged.
std::string DecodeUrlEscapes(std::string_view text);

// The Address a launch URL carries: the payload after the prefix, decoded, up to its first zero
// byte, converted to the ANSI code page, up to its last "&" (nothing without one), without one
// trailing "/". The URL carries the address already scrambled: it is not scrambled again.
std::string AddressFromLaunchUrl(std::string_view argument);

// Given the command-line tail: with 2 characters or more, stores AddressFromLaunchUrl as
// Device/Address and returns true (an argument of 2 to 17 characters stores an empty Address).
// Returns false for no argument or one of 1 character: no launch URL.
bool HandleLaunchUrl(std::string_view tail, const std::filesystem::path& file);

// true when the command-line tail is a launch URL at all (2 characters or more); otherwise the
// start opens a fast class.
inline bool IsLaunchUrl(std::string_view tail) {
  return tail.size() >= 2;
}

// StoreLaunchUrl's outcome.
enum class LaunchUrlResult {
  kNone,      // no launch URL (HandleLaunchUrl would not store)
  kStored,    // the address is stored
  kRefused,   // config.ini's AllowedHosts does not hold its host: nothing stored, the user told
  kNotSaved,  // config.ini could not be read or written: nothing stored, the user told
};
// HandleLaunchUrl, but a link to a host that [Device] AllowedHosts of the file does not hold is
// not stored; messages then names the host. When the file cannot be read or written (read-only,
// ...), messages shows kSettingsUnreadableMessage or kSettingsNotSavedMessage.
LaunchUrlResult StoreLaunchUrl(std::string_view tail, const std::filesystem::path& file,
                               UserMessages& messages);

// The host of the fast-class publishing server: the environment variable QUILLON_DEFAULT_SERVER
// when set and not empty, otherwise the one the program was built with.
std::string DefaultServerHost();

// The plain (unscrambled) fast-class address: publish URL on the default server, "&", class number.
std::string FastClassAddress(std::string_view host, std::string_view class_number);

// The message that tells the teacher the class number of a fast class.
std::string FastClassMessage(std::string_view class_number);

// Makes up a class number from 8 random digits (leading zeros vanish), stores the fast-class
// address scrambled as Device/Address and shows FastClassMessage. When the file cannot be read or
// written the number would name no class: `problems` (messages when null) shows
// kSettingsUnreadableMessage or kSettingsNotSavedMessage instead, and false is returned.
bool StartFastClass(UserMessages& messages, const std::filesystem::path& file,
                    UserMessages* problems = nullptr);

}  // namespace quillon
