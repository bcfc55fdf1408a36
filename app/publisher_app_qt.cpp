#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/publisher_app.h"
#include "app/publisher_ports.h"
#include "app/single_instance.h"
#include "base/log.h"
#include "base/user_messages.h"
#include "launch/class_address.h"
#include "resources/pictures_qt.h"
#include "window/message_box_qt.h"
#include "window/publisher_dlg_qt.h"
#include "window/shockwave_flash.h"
#include "window/skin_qt.h"

namespace quillon {
namespace {

bool HaveDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

int RunPublisherApp(int argc, char** argv, const CommandLine& commandLine,
                    const std::filesystem::path& programFolder) {
  if (!HaveDisplay()) {
    // Start-up still does what it does before the window: the address is stored for the next
    // start, and a fast class tells its number on the terminal.
    StreamMessages terminal(std::cout);
    if (!PrepareClassAddress(commandLine.LaunchUrl, programFolder, terminal)) return 1;
    LogWarning(
        "there is no display to show the window on (DISPLAY is not set); the address is stored "
        "in config.ini.\n"
        "To publish without the window, run: quillon-publisher --headless [LAUNCH_URL]");
    return 0;
  }
  // The page's web engine refuses to run as root inside its sandbox.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  CShockwaveFlash::QuietEngineLogs();
  CShockwaveFlash::DrawInSoftware();
  QApplication application(argc, argv);
  LogTiming("application made");
  application.setWindowIcon(ApplicationIcon());
  if (!LoadQtChineseTexts()) LogInfo("Qt's Chinese texts are not installed; its buttons stay English");

  // A window runs for this folder already: it takes the link, this start ends.
  auto instance = std::make_unique<SingleInstance>(programFolder, commandLine.LaunchUrl);
  if (instance->Role() == InstanceRole::kHandedOver) return 0;
  if (instance->Role() == InstanceRole::kNoAnswer) {
    ShowMessageBox(nullptr, kNoAnswerMessage, MessageIcon::kExclamation);
    return 1;
  }

  LogTiming("single instance checked");
  MessageBoxMessages messages;
  WindowPorts ports(messages, programFolder);
  PublisherDlg window(ports.store, ports.sessions, ports.devices, programFolder);
  instance->Listen([&window](const std::string& request) { window.OnLaunchRequest(request); });

  // The program's folder becomes the current directory and the address goes into config.ini
  // before the window reads it; a fast class tells its number before any window is shown.
  PrepareClassAddress(commandLine.LaunchUrl, programFolder, messages);
  LogTiming("window made, address stored");
  window.DoModal();
  instance.reset();  // a start from now on runs a window of its own
  RemoveSkin();
  return 0;
}

}  // namespace quillon
