// The plain look: this build carries no skin library of its own yet.
#include "window/skin_win.h"

namespace quillon {

bool StartSkin(const std::string& /*file*/) {
  return false;
}

void RemoveSkin() {}

}  // namespace quillon
