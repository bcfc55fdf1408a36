// The skin: a Qt style sheet in the file "face.dll" beside the program, applied to the whole
// application. A missing or unreadable file changes only the look.
#pragma once

#include <string>

namespace quillon {

// Applies the style sheet in file; false (and the look unchanged) when it cannot be read.
bool StartSkin(const std::string& file);
// Goes back to the plain look.
void RemoveSkin();

}  // namespace quillon
