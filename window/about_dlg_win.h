// The about box: dialog 100 with the application icon, two lines about the maker and the
// product text in control 1057.
#pragma once

#include <windows.h>

#include <string>

namespace quillon {

class AboutDlg {
 public:
  explicit AboutDlg(HWND parent = nullptr);

  // Runs the box until OK or Escape closes it.
  INT_PTR DoModal();

  static std::string ProductText();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND parent_;
  std::string productText_;
};

}  // namespace quillon
