// AppFace.dll: the program's skin. It reads the colours of the skin file and gives them to the
// dialogs of the thread that starts it: the dialogs there now and every dialog created there
// until the skin is removed (message boxes, the about box). A dialog or control that chooses its
// own colours keeps them; only the system's plain colours are replaced.
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "window/appface/appface.h"
#include "window/appface/skin_colours.h"

namespace quillon {
namespace {

// A style sheet is small; a larger file is not one.
constexpr std::streamsize kLargestSkin = 1 << 20;
constexpr UINT_PTR kSubclassId = 0x51534B4E;  // identifies our subclass among others

class Brush {
 public:
  explicit Brush(COLORREF colour) : brush_(CreateSolidBrush(colour)) {}
  ~Brush() {
    if (brush_ != nullptr) DeleteObject(brush_);
  }
  Brush(const Brush&) = delete;
  Brush& operator=(const Brush&) = delete;
  HBRUSH get() const { return brush_; }

 private:
  HBRUSH brush_;
};

COLORREF ToColorRef(const std::optional<Rgb>& colour, int systemColour) {
  return colour ? RGB(colour->Red, colour->Green, colour->Blue) : GetSysColor(systemColour);
}

// One started skin: its colours, brushes, the creation hook and the dialogs it has subclassed.
struct Skin {
  explicit Skin(const SkinColours& colours)
      : Background(ToColorRef(colours.DialogBackground, COLOR_3DFACE)),
        Text(ToColorRef(colours.Text, COLOR_WINDOWTEXT)),
        ButtonBackground(ToColorRef(colours.ButtonBackground, COLOR_3DFACE)),
        ButtonText(ToColorRef(colours.ButtonText, COLOR_BTNTEXT)),
        BackgroundBrush(Background),
        ButtonBrush(ButtonBackground) {}

  COLORREF Background, Text, ButtonBackground, ButtonText;
  Brush BackgroundBrush, ButtonBrush;
  HHOOK Hook = nullptr;
  DWORD Thread = GetCurrentThreadId();
  std::set<HWND> Dialogs;
};

// The skin of the process: the library's entries carry no handle, so its state is the library's.
std::unique_ptr<Skin>& CurrentSkin() {
  static std::unique_ptr<Skin> skin;
  return skin;
}

bool IsDialog(HWND window) {
  wchar_t name[16] = {};
  return GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == L"#32770";
}

// The system's own answer to a colour message, which the skin replaces; anything else is the
// dialog's own choice and stays.
bool IsPlainAnswer(LRESULT answer) {
  const HBRUSH brush = reinterpret_cast<HBRUSH>(answer);
  return brush == nullptr || brush == GetSysColorBrush(COLOR_3DFACE) ||
         brush == GetSysColorBrush(COLOR_WINDOW);
}

LRESULT CALLBACK SkinnedDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR) {
  const std::unique_ptr<Skin>& skin = CurrentSkin();
  switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const LRESULT answer = DefSubclassProc(window, message, wParam, lParam);
      if (!skin || !IsPlainAnswer(answer)) return answer;
      const HDC dc = reinterpret_cast<HDC>(wParam);
      const bool button = message == WM_CTLCOLORBTN;
      SetTextColor(dc, button ? skin->ButtonText : skin->Text);
      SetBkColor(dc, button ? skin->ButtonBackground : skin->Background);
      return reinterpret_cast<LRESULT>(button ? skin->ButtonBrush.get()
                                              : skin->BackgroundBrush.get());
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, SkinnedDialog, id);
      if (skin) skin->Dialogs.erase(window);
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

void Subclass(Skin& skin, HWND dialog) {
  if (skin.Dialogs.count(dialog) != 0) return;
  if (SetWindowSubclass(dialog, SkinnedDialog, kSubclassId, 0)) skin.Dialogs.insert(dialog);
}

void Repaint(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
  const std::unique_ptr<Skin>& skin = CurrentSkin();
  if (code == HCBT_CREATEWND && skin) {
    const HWND window = reinterpret_cast<HWND>(wParam);
    if (IsDialog(window)) Subclass(*skin, window);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK SkinChildDialogs(HWND window, LPARAM skin) {
  if (IsDialog(window)) Subclass(*reinterpret_cast<Skin*>(skin), window);
  return TRUE;
}

BOOL CALLBACK SkinThreadWindow(HWND window, LPARAM skin) {
  SkinChildDialogs(window, skin);
  EnumChildWindows(window, SkinChildDialogs, skin);
  return TRUE;
}

bool ReadSkinFile(const char* path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  try {  // a read error throws from the stream buffer; it must not leave the library
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
    return false;
  }
  return !file.bad() && static_cast<std::streamsize>(text.size()) <= kLargestSkin;
}

void RemoveCurrentSkin() {
  std::unique_ptr<Skin>& current = CurrentSkin();
  if (!current) return;
  UnhookWindowsHookEx(current->Hook);
  std::unique_ptr<Skin> skin = std::move(current);
  for (const HWND dialog : skin->Dialogs) {
    RemoveWindowSubclass(dialog, SkinnedDialog, kSubclassId);
    Repaint(dialog);
  }
}

}  // namespace
}  // namespace quillon

extern "C" {

BOOL WINAPI SkinStart(const char* skinFile) {
  using namespace quillon;
  std::string text;
  if (skinFile == nullptr || !ReadSkinFile(skinFile, text)) return FALSE;
  const SkinColours colours = ReadSkinColours(text);
  if (colours.Empty()) return FALSE;

  RemoveCurrentSkin();
  std::unique_ptr<Skin>& current = CurrentSkin();
  current = std::make_unique<Skin>(colours);
  Skin& skin = *current;
  skin.Hook = SetWindowsHookExW(WH_CBT, WatchCreation, nullptr, skin.Thread);
  if (skin.Hook == nullptr) {
    current.reset();
    return FALSE;
  }
  EnumThreadWindows(skin.Thread, SkinThreadWindow, reinterpret_cast<LPARAM>(&skin));
  for (const HWND dialog : skin.Dialogs) Repaint(dialog);
  return TRUE;
}

void WINAPI SkinRemove() {
  quillon::RemoveCurrentSkin();
}

}  // extern "C"
