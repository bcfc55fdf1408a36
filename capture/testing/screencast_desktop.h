// A Wayland session's screen sharing as a test needs it, without a compositor: a private session
// bus, a PipeWire daemon with WirePlumber, and the ScreenCast stand-in serving the pattern, all in
// a runtime folder of the test's own. This process's DBUS_SESSION_BUS_ADDRESS points at the bus.
#pragma once

#include <gio/gio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/testing/child_process.h"
#include "base/testing/test_folder.h"
#include "base/testing/wait_for.h"

namespace quillon::testing {

class ScreenCastDesktop {
 public:
  ScreenCastDesktop() {
    const std::filesystem::path dir = folder_.path();
    TestFolder::Write(dir / "bus.conf",
                      "<busconfig><type>session</type><listen>unix:path=" + (dir / "bus").string() +
                          "</listen><policy context=\"default\"><allow send_destination=\"*\" "
                          "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                          "<allow own=\"*\"/></policy></busconfig>");
    environment_ = {"XDG_RUNTIME_DIR=" + dir.string(),
                    "HOME=" + dir.string(),
                    "XDG_CONFIG_HOME=" + (dir / "config").string(),
                    "XDG_STATE_HOME=" + (dir / "state").string(),
                    "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir / "bus").string(),
                    "PIPEWIRE_REMOTE",
                    "DISPLAY",
                    "WAYLAND_DISPLAY"};
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "bus").string()).c_str(), 1);
    ready_ = bus_.Start({"dbus-daemon", "--config-file=" + (dir / "bus.conf").string(), "--nofork"},
                        environment_, (dir / "bus.log").string()) &&
             WaitFor([&] { return std::filesystem::exists(dir / "bus"); }) &&
             pipeWire_.Start({"pipewire"}, environment_, (dir / "pipewire.log").string()) &&
             WaitFor([&] { return std::filesystem::exists(dir / "pipewire-0"); }) &&
             wirePlumber_.Start({"wireplumber"}, environment_, (dir / "wireplumber.log").string());
  }

  // All up, the stand-in (options as its command line takes them) serving on the bus.
  bool StartStandIn(const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {QUILLON_SCREENCAST_STANDIN_PATH};
    argv.insert(argv.end(), options.begin(), options.end());
    const std::string log = (folder_ / "standin.log").string();
    std::filesystem::remove(log);
    return ready_ && standIn_.Start(argv, environment_, log) &&
           WaitFor([&] { return TestFolder::Read(log).find("ready") != std::string::npos; });
  }
  void StopStandIn() { standIn_.Stop(); }
  // PipeWire goes away as it does when its daemon ends.
  void StopPipeWire() {
    wirePlumber_.Stop();
    pipeWire_.Stop();
  }

  // A call of the stand-in's control interface: SetPicture, SetPointer, EndSharing (the teacher
  // stops sharing from the desktop's indicator) or Dialogs, whose count it returns.
  static uint32_t Control(const char* method, GVariant* parameters = nullptr) {
    // A connection of its own: the shared one would end the test process with the bus.
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        getenv("DBUS_SESSION_BUS_ADDRESS"),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (bus == nullptr) return 0;
    GVariant* reply =
        g_dbus_connection_call_sync(bus, "org.freedesktop.portal.Desktop", "/org/quillon/StandIn",
                                    "org.quillon.ScreenCastStandIn", method, parameters, nullptr,
                                    G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    uint32_t count = 0;
    if (reply != nullptr && g_variant_is_of_type(reply, G_VARIANT_TYPE("(u)")))
      g_variant_get(reply, "(u)", &count);
    if (reply != nullptr) g_variant_unref(reply);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return count;
  }

  const std::filesystem::path& Folder() const { return folder_.path(); }
  // The servers' logs, for a failure's message.
  std::string Logs() const {
    std::string logs;
    for (const char* name : {"bus.log", "pipewire.log", "wireplumber.log", "standin.log"})
      logs += std::string(name) + ":\n" + TestFolder::Read(folder_ / name) + "\n";
    return logs;
  }

 private:
  TestFolder folder_;
  std::vector<std::string> environment_;
  ChildProcess bus_;
  ChildProcess pipeWire_;
  ChildProcess wirePlumber_;
  ChildProcess standIn_;
  bool ready_ = false;
};

}  // namespace quillon::testing
