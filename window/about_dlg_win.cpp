#include "window/about_dlg_win.h"

#include "resources/resource.h"
#include "window/window_support_win.h"

namespace quillon {

std::string AboutDlg::ProductText() {
  // Lines end in CR LF: a static control breaks lines only there.
  return "新一代网络教学系统 (Quillon Publisher)  Build 1.0.140102.20\r\n"
         "\r\n"
         "把你的电脑桌面、摄像头画面和麦克风声音直播给课堂里的每一位学生。\r\n"
         "\r\n"
         "使用方法:\r\n"
         "  1. 在课堂网页上点击上课链接打开本程序; 直接启动时会开一节快速课堂, 并告诉你课堂号。\r\n"
         "  2. 在\"参数设置\"中选择画面类型、视频设备和音频设备, 设定速率, 决定是否发送音频。\r\n"
         "  3. 点击\"上课\"开始直播, 点击\"下课\"结束; 上课时更换画面类型会自动重新开始直播。\r\n"
         "  4. 关闭窗口即结束本次直播。\r\n"
         "\r\n"
         "设置保存在程序目录下的 config.ini 中。\r\n"
         "本程序使用了 FFmpeg 和 x264 等开源软件, 谨此致谢。";
}

AboutDlg::AboutDlg(HWND parent) : parent_(parent) {
  productText_ = ProductText();
}

INT_PTR AboutDlg::DoModal() {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), parent_,
                         &AboutDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK AboutDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* self = reinterpret_cast<const AboutDlg*>(lParam);
      SetDlgItemTextW(window, IDC_PRODUCT_TEXT, WideFromUtf8(self->productText_).c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace quillon
