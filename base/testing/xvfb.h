// Starts a private Xvfb for a test on a display number that the server picks itself
// (-displayfd), and stops it again on destruction.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/testing/child_process.h"

namespace quillon::testing {

class XvfbServer {
 public:
  XvfbServer(int width, int height) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    fcntl(fds[1], F_SETFD, 0);  // the server's end, left open across its exec
    const std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const bool started = server_.Start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen",
                                        "0", geometry, "-noreset", "-nolisten", "tcp"},
                                       {}, "/dev/null");
    close(fds[1]);
    // The server writes its display number once it accepts connections; a server that ended
    // closes the pipe.
    std::string number;
    char c = 0;
    pollfd ready{fds[0], POLLIN, 0};
    while (started && poll(&ready, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    if (c == '\n') display_ = ":" + number;
    close(fds[0]);
  }

  bool Running() const { return !display_.empty(); }
  const std::string& Display() const { return display_; }

  static bool Installed() { return std::system("command -v Xvfb >/dev/null 2>&1") == 0; }

 private:
  ChildProcess server_;
  std::string display_;
};

}  // namespace quillon::testing
