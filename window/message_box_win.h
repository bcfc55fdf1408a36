// The program's message box: modal, an OK button, the executable's name as caption.
#pragma once

#include <windows.h>

#include <string>

#include "launch/user_messages.h"
#include "window/publisher_dlg_logic.h"

namespace quillon {

// The caption of every message box: the program file's name without its extension.
std::wstring ApplicationTitle();

// Shows text (UTF-8) and returns when the user has pressed OK.
void ShowMessageBox(HWND owner, const std::string& utf8, MessageIcon icon);

// Messages of the parts that have no window of their own (the settings, the fast class).
class MessageBoxMessages : public UserMessages {
 public:
  void Show(const std::string& text) override { ShowMessageBox(nullptr, text, MessageIcon::kNone); }
};

}  // namespace quillon
