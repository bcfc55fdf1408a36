// --show-settings: the settings as the window reads them, for operators and scripts.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "base/display_info.h"
#include "base/publisher_settings.h"
#include "launch/settings.h"

namespace quillon {

// Every field of the record that config.ini fills or derives, as "Key=value" lines in the
// record's order (Address as stored, that is scrambled), then "StreamName=".
std::string FormatSettings(const PublisherSettings& settings, std::string_view stream_name);

// Names the settings file in the log (config.ini beside the program or the teacher's own), reads
// it like the window does and prints FormatSettings to `out`. "参数有误!"
// goes to `err` when the address has no "&"; the log notes a missing file, a screen size that
// could not be asked for, and the reason when a class could not start with these values. A file
// that is there but cannot be read prints nothing to `out`: the message goes to `err`, the reason
// to the log. Returns the exit code: 2 when the file cannot be read or the address has no "&",
// else 0.
int ShowSettings(const DisplayInfo& display, std::ostream& out, std::ostream& err,
                 const std::filesystem::path& file);

}  // namespace quillon
