// Stand-ins for the commands whose parts this build does not hold. A build with the capture
// engine and the device lists defines them for real; these weak definitions then give way.
#include <cstdio>

#include "launch/command_line.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define QUILLON_WEAK __attribute__((weak))
#else
#define QUILLON_WEAK
#endif

namespace quillon {

QUILLON_WEAK int RunListDevices() {
  std::fputs("quillon-publisher: --list-devices is not available in this build\n", stderr);
  return 2;
}

}  // namespace quillon
