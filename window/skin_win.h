// The skin: "AppFace.dll" started on the skin file beside the program and removed when the
// window has closed. A missing library or skin file changes only the look.
#pragma once

#include <string>

namespace quillon {

// Starts the skin on file; false (and the look unchanged) when it cannot be started.
bool StartSkin(const std::string& file);
// Goes back to the plain look.
void RemoveSkin();

}  // namespace quillon
