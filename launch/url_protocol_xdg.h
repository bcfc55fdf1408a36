// The freedesktop side of the URL-scheme registration: a desktop entry for
// x-scheme-handler/quillon.publish in the user's applications folder, made the default handler
// in mimeapps.list the way `xdg-mime default` does it.
#pragma once

#include <filesystem>
#include <string>

namespace quillon {

inline constexpr const char kSchemeMimeType[] = "x-scheme-handler/quillon.publish";
inline constexpr const char kDesktopFileName[] = "quillon-publisher.desktop";

// The program part of an Exec key for executable: quoted and escaped as desktop entries want it
// when the path holds a character that needs it, "%" doubled.
std::string DesktopExecProgram(const std::string& executable);

// The whole desktop entry that starts executable with the link as its one argument.
std::string DesktopEntryText(const std::string& executable);

// mimeappsText with the default handler of mimeType set to desktopFile in its
// [Default Applications] section; every other line is kept.
std::string SetDefaultHandler(const std::string& mimeappsText, const std::string& mimeType,
                              const std::string& desktopFile);

// The user's applications folder ($XDG_DATA_HOME/applications or ~/.local/share/applications)
// and configuration folder ($XDG_CONFIG_HOME or ~/.config); empty when neither is known.
std::filesystem::path UserApplicationsFolder();
std::filesystem::path UserConfigFolder();

// Writes the desktop entry for executable and makes it the scheme's default handler. false when
// a file could not be written.
bool RegisterSchemeHandler(const std::string& executable);

}  // namespace quillon
