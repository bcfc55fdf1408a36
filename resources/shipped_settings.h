// The config.ini that ships beside the program, compiled into it: a config.ini that has gone
// missing is made again from this text.
#pragma once

#include <string_view>

namespace quillon {

std::string_view ShippedSettingsText();

}  // namespace quillon
