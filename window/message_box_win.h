// The program's message box on Windows: modal, an OK button, the program file's name as caption.
#pragma once

#include <windows.h>

#include <string>

#include "base/user_messages.h"
#include "window/publisher_dlg_logic.h"

namespace quillon {

// The caption of every message box: the executable's file name without its extension.
std::wstring ApplicationTitle();

// Shows utf8Text in a modal box owned by owner (nullptr: no owner) and returns when the user has
// closed it. Without a desktop to show it on it returns at once.
void ShowMessageBox(HWND owner, const std::string& utf8Text, MessageIcon icon);

// Messages of the parts that have no window of their own (the settings, the fast class).
class MessageBoxMessages : public UserMessages {
 public:
  void Show(const std::string& text) override { ShowMessageBox(nullptr, text, MessageIcon::kNone); }
};

}  // namespace quillon
