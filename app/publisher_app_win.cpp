// The program's normal start on Windows: OLE for the classroom page and the device lists,
// register the URL scheme, take the launch URL or open a fast class, run the main window, remove
// the skin.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <memory>
#include <string>

#include "app/publisher_app.h"
#include "app/publisher_ports.h"
#include "app/single_instance.h"
#include "launch/class_address.h"
#include "window/message_box_win.h"
#include "window/publisher_dlg_win.h"
#include "window/skin_win.h"

namespace quillon {
namespace {

// The user-interface thread's apartment: the page control needs OLE (in-place activation,
// drag and drop) and the device lists create COM objects, both before a class starts.
class OleApartment {
 public:
  OleApartment() : initialised_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleApartment() {
    if (initialised_) OleUninitialize();
  }
  OleApartment(const OleApartment&) = delete;
  OleApartment& operator=(const OleApartment&) = delete;

 private:
  bool initialised_;
};

}  // namespace

int RunPublisherApp(int /*argc*/, char** /*argv*/, const CommandLine& commandLine,
                    const std::filesystem::path& programFolder) {
  // A window runs for this folder already: it takes the link, this start ends.
  auto instance = std::make_unique<SingleInstance>(programFolder, commandLine.LaunchUrl);
  if (instance->Role() == InstanceRole::kHandedOver) return 0;
  if (instance->Role() == InstanceRole::kNoAnswer) {
    ShowMessageBox(nullptr, kNoAnswerMessage, MessageIcon::kExclamation);
    return 1;
  }

  OleApartment apartment;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  MessageBoxMessages messages;
  WindowPorts ports(messages, programFolder);
  {
    PublisherDlg window(ports.store, ports.sessions, ports.devices, programFolder);
    instance->Listen([&window](const std::string& request) { window.OnLaunchRequest(request); });

    // The program's folder becomes the current directory and the address goes into config.ini
    // before the window reads it; a fast class tells its number before any window is shown.
    PrepareClassAddress(commandLine.LaunchUrl, programFolder, messages);
    if (window.DoModal() == -1) {
      // Without its resources (a damaged program file) there is no window to show; say so
      // rather than end without a word.
      ShowMessageBox(nullptr, "无法打开程序窗口 (错误 " + std::to_string(GetLastError()) + ")",
                     MessageIcon::kExclamation);
      RemoveSkin();
      return 1;
    }
    instance.reset();  // a start from now on runs a window of its own
    RemoveSkin();
  }
  return 0;
}

}  // namespace quillon
