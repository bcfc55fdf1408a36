#include "window/message_box_win.h"

#include "base/ansi_text.h"
#include "base/log.h"
#include "base/program_folder.h"

namespace quillon {

std::wstring ApplicationTitle() {
  const std::wstring name = ExecutablePath().stem().wstring();
  return name.empty() ? L"quillon-publisher" : name;
}

void ShowMessageBox(HWND owner, const std::string& utf8Text, MessageIcon icon) {
  // The log keeps what the teacher was told, for whoever helps them afterwards.
  LogInfo("message: %s", utf8Text.c_str());
  UINT style = MB_OK;
  if (icon == MessageIcon::kExclamation) style |= MB_ICONEXCLAMATION;
  if (icon == MessageIcon::kInformation) style |= MB_ICONINFORMATION;
  // A box without an owner still belongs in front of the user, not behind another program.
  if (owner == nullptr) style |= MB_SETFOREGROUND;
  MessageBoxW(owner, Utf8ToWide(utf8Text).c_str(), ApplicationTitle().c_str(), style);
}

}  // namespace quillon
