// The skin on Windows: the skin library "AppFace.dll" beside the program, started on the skin
// file "face.dll". Without the library or the file the window keeps the plain look.
#pragma once

#include <string>

namespace quillon {

// Starts the skin from file (UTF-8) for the dialogs of the calling thread; false (and the look
// unchanged) when the library or the file is missing or unusable.
bool StartSkin(const std::string& file);
// Removes the skin, if the library was loaded; the dialogs get the plain look back.
void RemoveSkin();

}  // namespace quillon
