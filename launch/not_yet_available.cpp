// Stand-ins for the commands whose parts this build does not hold. The build defines
// QUILLON_WITHOUT_<PART> for each missing part (launch/CMakeLists.txt); a build with the part
// compiles its real command instead.
#include <cstdio>

#include "launch/command_line.h"

#ifdef QUILLON_WITHOUT_WINDOW
#include "launch/publisher_app.h"
#include "launch/user_messages.h"
#include "window/message_box_win.h"
#endif

namespace quillon {

#ifdef QUILLON_WITHOUT_DEVICES
int RunListDevices() {
  std::fputs("quillon-publisher: --list-devices is not available in this build\n", stderr);
  return 2;
}
#endif

#ifdef QUILLON_WITHOUT_CAPTURE
int RunHeadless(const CommandLine&) {
  std::fputs("quillon-publisher: --headless is not available in this build\n", stderr);
  return 2;
}
#endif

#ifdef QUILLON_WITHOUT_WINDOW
// Start-up up to the window: the address is stored (or a fast class opened) for the next start.
int RunPublisherApp(int, char**, const CommandLine& commandLine) {
  MessageBoxMessages messages;
  PrepareClassAddress(commandLine, messages);
  std::fputs(
      "quillon-publisher: the window is not part of this build; the address is stored in "
      "config.ini.\n",
      stderr);
  return 0;
}
#endif

}  // namespace quillon
