#include "window/publisher_dlg_win.h"

#include "base/picture_type.h"
#include "resources/resource.h"
#include "window/about_dlg_win.h"
#include "window/message_box_win.h"
#include "window/skin_win.h"
#include "window/window_support_win.h"

namespace quillon {
namespace {

constexpr UINT_PTR kStatusTimer = 1;          // once a second: the status line
constexpr UINT kBackgroundDone = WM_APP + 1;  // RunInBackground's work has ended

// The input message a Win32 message stands for; kOther for everything the window does not filter.
InputMessage MessageOf(const MSG& msg) {
  InputMessage message;
  switch (msg.message) {
    case WM_RBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
      message.kind = InputMessage::Kind::kMouseButtonPress;
      message.button = InputMessage::Button::kRight;
      break;
    case WM_RBUTTONUP:
    case WM_NCRBUTTONUP:
      message.kind = InputMessage::Kind::kMouseButtonRelease;
      message.button = InputMessage::Button::kRight;
      break;
    case WM_RBUTTONDBLCLK:
    case WM_NCRBUTTONDBLCLK:
      message.kind = InputMessage::Kind::kMouseDoubleClick;
      message.button = InputMessage::Button::kRight;
      break;
    case WM_KEYDOWN:
      message.kind = InputMessage::Kind::kKeyPress;
      message.key = msg.wParam == VK_RETURN ? 13 : msg.wParam == VK_ESCAPE ? 27 : 0;
      break;
    default:
      break;
  }
  return message;
}

void AddItems(HWND list, const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
  }
}

// Selects position index of a drop-down list; a position outside the list clears the selection.
void Select(HWND list, int index) {
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  SendMessageW(list, CB_SETCURSEL, index >= 0 && index < count ? index : -1, 0);
}

int Selection(HWND list) {
  return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
}

}  // namespace

PublisherDlg::PublisherDlg(SettingsStore& store, SessionFactory& sessions, DeviceLists& devices,
                           const std::filesystem::path& programFolder, HWND parent)
    : parent_(parent) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  icon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0,
                                        LR_DEFAULTSIZE | LR_SHARED));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  logic_ =
      std::make_unique<PublisherDlgLogic>(*this, page_, store, sessions, devices, programFolder);
}

PublisherDlg::~PublisherDlg() {
  if (window_) DestroyWindow(window_);
  logic_.reset();
}

INT_PTR PublisherDlg::DoModal() {
  ended_ = false;
  result_ = IDCANCEL;
  // The owner is disabled while the window runs, as for any modal dialog.
  const bool ownerEnabled = parent_ && IsWindowEnabled(parent_);
  HWND window =
      CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PUBLISHER_DIALOG), parent_,
                         &PublisherDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!window) return -1;
  if (ownerEnabled) EnableWindow(parent_, FALSE);
  if (!ended_) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
  }
  MSG msg;
  while (!ended_) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // Somebody asked the thread to quit: pass it on to the loop outside.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) break;
    if (IsFilteredInput(msg) && BelongsToWindow(msg.hwnd)) continue;
    if (page_.TranslateKey(msg)) continue;
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (ownerEnabled) EnableWindow(parent_, TRUE);
  DestroyWindow(window);
  return result_;
}

bool PublisherDlg::IsFilteredInput(const MSG& message) {
  const InputMessage input = MessageOf(message);
  return input.kind != InputMessage::Kind::kOther && PublisherDlgLogic::PreTranslateMessage(input);
}

bool PublisherDlg::BelongsToWindow(HWND target) const {
  return window_ && (target == window_ || IsChild(window_, target));
}

void PublisherDlg::End(INT_PTR result) {
  result_ = result;
  ended_ = true;
  // Wakes the loop if nothing else is waiting.
  PostMessageW(window_, WM_NULL, 0, 0);
}

INT_PTR CALLBACK PublisherDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<PublisherDlg*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_ = window;
    self->OnInitDialog();
    return TRUE;
  }
  auto* self = reinterpret_cast<PublisherDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  const INT_PTR handled = self->HandleMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->window_ = nullptr;
  }
  return handled;
}

void PublisherDlg::OnInitDialog() {
  HWND types = GetDlgItem(window_, IDC_PICTURE_TYPES);
  for (const char* label : kPictureTypeLabels) {
    SendMessageW(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(label).c_str()));
  }
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  // Without the system's control host the page's place stays empty; the rest works as usual.
  page_.Create(window_, IDC_PAGE);
  if (!logic_->OnInitDialog()) {
    End(IDCANCEL);
    return;
  }
  SetTimer(window_, kStatusTimer, 1000, nullptr);
}

INT_PTR PublisherDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      return logic_->OnSysCommand(static_cast<int>(wParam & 0xFFF0)) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case kBackgroundDone:
      FinishBackground();
      return TRUE;
    case WM_TIMER:
      if (wParam != kStatusTimer) return FALSE;
      logic_->OnStatusTick();
      return TRUE;
    case WM_CLOSE:
      logic_->OnClose();
      End(IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, kStatusTimer);
      logic_->OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void PublisherDlg::OnCommand(int id, int code) {
  switch (id) {
    case IDC_START_CLASS:
      if (code == BN_CLICKED) logic_->OnStartClass();
      break;
    case IDC_END_CLASS:
      if (code == BN_CLICKED) logic_->OnEndClass();
      break;
    case IDC_PICTURE_TYPES:
      if (code == CBN_SELCHANGE) logic_->OnVideoStyleChange();
      break;
    case IDCANCEL:
      End(IDCANCEL);
      break;
    default:
      break;
  }
}

bool PublisherDlg::OnPaint() {
  if (!IsIconic(window_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window_, &client);
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  DrawIcon(dc, (client.right - client.left - width + 1) / 2,
           (client.bottom - client.top - height + 1) / 2, icon_);
  EndPaint(window_, &paint);
  return true;
}

void PublisherDlg::AddAboutMenuEntry(const std::string& text) {
  // The entry's text is string 101 of the resources; the given text stands in where it is missing.
  wchar_t loaded[128] = {};
  const int length = LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, loaded, 128);
  const std::wstring entry =
      length > 0 ? std::wstring(loaded, static_cast<size_t>(length)) : WideFromUtf8(text);
  if (entry.empty()) return;
  HMENU menu = GetSystemMenu(window_, FALSE);
  if (!menu) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutCommand, entry.c_str());
}

void PublisherDlg::RunAboutBox() {
  AboutDlg about(window_);
  about.DoModal();
}

void PublisherDlg::StartSkin(const std::string& skinFile) {
  quillon::StartSkin(skinFile);
}

void PublisherDlg::SetTitle(const std::string& title) {
  SetWindowTextW(window_, WideFromUtf8(title).c_str());
}

void PublisherDlg::BringToFront() {
  if (!window_) return;
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
}

void PublisherDlg::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowMessageBox(window_ && IsWindowVisible(window_) ? window_ : nullptr, text, icon);
}

void PublisherDlg::ShowClassButtons(bool publishing) {
  HWND shown = GetDlgItem(window_, publishing ? IDC_END_CLASS : IDC_START_CLASS);
  HWND hidden = GetDlgItem(window_, publishing ? IDC_START_CLASS : IDC_END_CLASS);
  ShowWindow(shown, SW_SHOW);
  EnableWindow(shown, TRUE);
  // The pressed button usually has the keyboard focus. Disabled, it would drop it, and then no
  // key (Tab, Space, Alt+F4) would reach the window until the teacher clicked a control: the
  // focus moves to the button that takes its place.
  if (GetFocus() == hidden) {
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(shown), TRUE);
  }
  ShowWindow(hidden, SW_HIDE);
  EnableWindow(hidden, FALSE);
}

void PublisherDlg::ShowStatus(const std::string& line) {
  HWND status = GetDlgItem(window_, IDC_STATUS);
  SetWindowTextW(status, WideFromUtf8(line).c_str());
  UpdateWindow(status);  // "connecting" shows before the connection attempt holds the thread
}

void PublisherDlg::RunInBackground(std::function<bool()> work, std::function<void(bool)> done) {
  background_.Run(std::move(work), std::move(done),
                  [window = window_] { PostMessageW(window, kBackgroundDone, 0, 0); });
}

void PublisherDlg::FinishBackground() {
  background_.Finish();
}

std::chrono::milliseconds PublisherDlg::DoubleClickTime() {
  return std::chrono::milliseconds(GetDoubleClickTime());
}

PreviewWindow PublisherDlg::PreviewArea() {
  return reinterpret_cast<PreviewWindow>(GetDlgItem(window_, IDC_PREVIEW));
}

void PublisherDlg::Pause(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

void PublisherDlg::FillCameraList(const std::vector<std::string>& names) {
  AddItems(GetDlgItem(window_, IDC_CAMERA_LIST), names);
}

void PublisherDlg::FillSoundList(const std::vector<std::string>& names) {
  AddItems(GetDlgItem(window_, IDC_SOUND_LIST), names);
}

void PublisherDlg::SelectSound(int index) {
  Select(GetDlgItem(window_, IDC_SOUND_LIST), index);
}

int PublisherDlg::SoundSelection() {
  return Selection(GetDlgItem(window_, IDC_SOUND_LIST));
}

bool PublisherDlg::SendSoundChecked() {
  return IsDlgButtonChecked(window_, IDC_SEND_SOUND) == BST_CHECKED;
}

void PublisherDlg::SetSendSoundChecked(bool checked) {
  CheckDlgButton(window_, IDC_SEND_SOUND, checked ? BST_CHECKED : BST_UNCHECKED);
}

int PublisherDlg::CameraSelection() {
  return Selection(GetDlgItem(window_, IDC_CAMERA_LIST));
}

void PublisherDlg::SelectCamera(int index) {
  Select(GetDlgItem(window_, IDC_CAMERA_LIST), index);
}

std::string PublisherDlg::RateText() {
  return WindowTextUtf8(GetDlgItem(window_, IDC_RATE));
}

void PublisherDlg::SetRateText(const std::string& text) {
  SetDlgItemTextW(window_, IDC_RATE, WideFromUtf8(text).c_str());
}

int PublisherDlg::PictureTypeSelection() {
  return Selection(GetDlgItem(window_, IDC_PICTURE_TYPES));
}

void PublisherDlg::SelectPictureType(int index) {
  Select(GetDlgItem(window_, IDC_PICTURE_TYPES), index);
}

}  // namespace quillon
