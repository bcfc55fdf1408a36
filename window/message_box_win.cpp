#include "window/message_box_win.h"

#include "window/window_support_win.h"

namespace quillon {

std::wstring ApplicationTitle() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"quillon-publisher";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

void ShowMessageBox(HWND owner, const std::string& utf8, MessageIcon icon) {
  const UINT style = icon == MessageIcon::kExclamation   ? MB_ICONEXCLAMATION
                     : icon == MessageIcon::kInformation ? MB_ICONINFORMATION
                                                         : 0;
  MessageBoxW(owner, WideFromUtf8(utf8).c_str(), ApplicationTitle().c_str(), MB_OK | style);
}

}  // namespace quillon
