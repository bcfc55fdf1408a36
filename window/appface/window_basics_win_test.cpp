// The skin through AppFace.dll on real dialogs: needs a desktop (run by tests/win_launch_gui.sh
// under Xvfb). The message box is checked through the main window by publisher_dlg_win_test.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/testing/test_folder.h"
#include "window/skin_win.h"

namespace quillon {
namespace {

// A dialog from an in-memory template; dialogProc may answer messages itself.
class TestDialog {
 public:
  explicit TestDialog(DLGPROC dialogProc = Plain) {
    struct alignas(4) Template {
      DLGTEMPLATE Header;
      WORD Menu, Class, Title;
    } dialog{};
    dialog.Header.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    dialog.Header.cx = 120;
    dialog.Header.cy = 60;
    window_ = CreateDialogIndirectParamW(nullptr, &dialog.Header, nullptr, dialogProc, 0);
  }
  ~TestDialog() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TestDialog(const TestDialog&) = delete;
  TestDialog& operator=(const TestDialog&) = delete;
  HWND get() const { return window_; }

  struct Answer {
    COLORREF Brush = CLR_INVALID;
    COLORREF Text = CLR_INVALID;
    bool operator==(const Answer&) const = default;
  };
  // What the dialog answers to a colour message: its brush's colour and the text colour it sets.
  Answer Ask(UINT message) const {
    Answer answer;
    const HDC dc = GetDC(window_);
    SetTextColor(dc, RGB(1, 2, 3));
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        window_, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window_)));
    LOGBRUSH described{};
    if (brush != nullptr && GetObjectW(brush, sizeof described, &described) != 0) {
      answer.Brush = described.lbColor;
    }
    answer.Text = GetTextColor(dc);
    ReleaseDC(window_, dc);
    return answer;
  }

 private:
  static INT_PTR CALLBACK Plain(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
  HWND window_ = nullptr;
};

class WindowBasicsWin : public testing::Test {
 protected:
  using Answer = TestDialog::Answer;
  void SetUp() override {
    TestFolder::Write(skin_,
                      "/* test skin */ QDialog { background-color: #123456; }\n"
                      "QLabel { color: #654321; } QPushButton { background-color: #abcdef; "
                      "color: #fedcba; }\n");
  }
  void TearDown() override { RemoveSkin(); }
  // AppFace.dll is found by name, as beside the program.
  static void FindAppFace() {
    const std::wstring folder = std::filesystem::absolute(QUILLON_APPFACE_DIR).wstring();
    ASSERT_TRUE(SetDllDirectoryW(folder.c_str()));
  }
  std::string SkinFile() const { return skin_.string(); }

  const COLORREF plain_ = GetSysColor(COLOR_3DFACE);
  const COLORREF skinned_ = RGB(0x12, 0x34, 0x56);  // the skin's dialog background
  TestFolder folder_;
  std::filesystem::path skin_ = folder_ / "face.dll";
};

// A dialog that paints its own background.
INT_PTR CALLBACK OwnBackground(HWND, UINT message, WPARAM, LPARAM) {
  static const HBRUSH own = CreateSolidBrush(RGB(9, 8, 7));
  return message == WM_CTLCOLORDLG ? reinterpret_cast<INT_PTR>(own) : FALSE;
}

TEST_F(WindowBasicsWin, TheSkinColoursDialogsOldAndNewUntilRemoved) {
  FindAppFace();
  TestDialog before;
  ASSERT_NE(before.get(), nullptr) << "no desktop to create dialogs on";
  EXPECT_EQ(before.Ask(WM_CTLCOLORDLG).Brush, plain_);
  TestDialog own(OwnBackground);

  ASSERT_TRUE(StartSkin(SkinFile()));
  TestDialog after;
  for (const TestDialog* dialog : {&before, &after}) {
    EXPECT_EQ(dialog->Ask(WM_CTLCOLORDLG).Brush, skinned_);
    EXPECT_EQ(dialog->Ask(WM_CTLCOLORSTATIC), (Answer{skinned_, RGB(0x65, 0x43, 0x21)}));
    EXPECT_EQ(dialog->Ask(WM_CTLCOLORBTN), (Answer{RGB(0xab, 0xcd, 0xef), RGB(0xfe, 0xdc, 0xba)}));
  }
  // A dialog that chooses its own colour keeps it; what it leaves to the system is skinned.
  EXPECT_EQ(own.Ask(WM_CTLCOLORDLG).Brush, RGB(9, 8, 7));
  EXPECT_EQ(own.Ask(WM_CTLCOLORSTATIC).Brush, skinned_);

  RemoveSkin();
  TestDialog removed;
  for (const TestDialog* dialog : {&before, &after, &removed}) {
    EXPECT_EQ(dialog->Ask(WM_CTLCOLORDLG).Brush, plain_);
  }
}

TEST_F(WindowBasicsWin, WithoutTheSkinFileOrTheLibraryNothingChanges) {
  TestDialog dialog;
  ASSERT_NE(dialog.get(), nullptr);
  // The library is not beside this test program: not found.
  EXPECT_FALSE(StartSkin(SkinFile()));
  RemoveSkin();
  EXPECT_EQ(dialog.Ask(WM_CTLCOLORDLG).Brush, plain_);

  FindAppFace();
  EXPECT_FALSE(StartSkin(SkinFile() + ".missing"));
  TestFolder::Write(skin_, "no colours in here");
  EXPECT_FALSE(StartSkin(SkinFile()));
  EXPECT_EQ(dialog.Ask(WM_CTLCOLORDLG).Brush, plain_);
  RemoveSkin();
}

}  // namespace
}  // namespace quillon
