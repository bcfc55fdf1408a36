// The Win32 main window shown for real (under Wine on a private X server): the controls at their
// template places, the system menu's about entry and the about box, start and end class through
// the buttons with the page variables in order, Enter and Escape kept from the dialog, and the
// closing message with the program's name as caption. With --screenshot-dir the window waits,
// once shown, until the caller has taken its picture.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/program_folder.h"
#include "devices/device_messages.h"
#include "resources/resource.h"
#include "window/about_dlg_win.h"
#include "window/publisher_dlg_win.h"
#include "window/testing/window_fakes.h"
#include "window/window_support_win.h"

namespace quillon {
namespace {

std::filesystem::path g_screenshotDir;

// A control's edges (left, top, right, bottom) in the dialog's client coordinates.
std::array<LONG, 4> EdgesOf(HWND dialog, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

// A template rectangle's edges in pixels as the dialog places its controls: position and size
// are each converted on their own.
std::array<LONG, 4> TemplateEdges(HWND dialog, int x, int y, int width, int height) {
  RECT units{x, y, width, height};
  MapDialogRect(dialog, &units);
  return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

// A dialog of a thread (this one unless told) other than the main window: the about box or a
// message box.
HWND FindOtherDialog(HWND main, DWORD thread = GetCurrentThreadId()) {
  HWND found = nullptr;
  while ((found = FindWindowExW(nullptr, found, L"#32770", nullptr)) != nullptr) {
    if (found != main && IsWindowVisible(found) &&
        GetWindowThreadProcessId(found, nullptr) == thread) {
      return found;
    }
  }
  return nullptr;
}

// Runs steps one per timer tick while the window's own loop runs; a step returns false to be
// tried again at the next tick. Gives up (and closes everything) after a time limit.
class Script {
 public:
  using Step = std::function<bool()>;
  Script(const PublisherDlg& dlg, std::vector<Step> steps) : dlg_(dlg), steps_(std::move(steps)) {
    self_ = this;
    timer_ = SetTimer(nullptr, 0, 50, &Script::Tick);
  }
  ~Script() {
    KillTimer(nullptr, timer_);
    self_ = nullptr;
  }
  bool Finished() const { return next_ == steps_.size(); }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!self_ || self_->Finished()) return;
    // 30 s at most: then whatever box is open is answered and the window told to end, so that
    // a failure never hangs the test.
    if (++self_->ticks_ > 600) {
      ADD_FAILURE() << "step " << self_->next_ << " never completed";
      self_->next_ = self_->steps_.size();
      HWND main = self_->dlg_.Window();
      for (int i = 0; i < 4; ++i) {
        if (HWND box = FindOtherDialog(main)) EndDialog(box, IDOK);
      }
      if (main) PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    // A step may run a nested modal loop; ticks inside it come back here and must wait.
    if (self_->busy_) return;
    self_->busy_ = true;
    if (self_->steps_[self_->next_]()) ++self_->next_;
    self_->busy_ = false;
  }

  static inline Script* self_ = nullptr;
  const PublisherDlg& dlg_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  int ticks_ = 0;
  bool busy_ = false;
  UINT_PTR timer_ = 0;
};

// The window over the shared stand-ins.
class PublisherDlgWin : public testing::Test {
 protected:
  FakeStore store;
  FakeSessions sessions;
  FakeDevices devices;
  PublisherDlg dlg{store, sessions, devices, ProgramFolder()};
};

TEST_F(PublisherDlgWin, ShowsTheTemplateRunsAClassAndCloses) {
  HWND window = nullptr, about = nullptr;
  int screenshotTicks = 0;
  std::chrono::steady_clock::time_point startedAt;
  std::thread worker;
  std::atomic<DWORD> workerId{0};
  std::atomic<bool> workerDone{false};
  // A message box of the thread, captioned with the program's name: read, then answered.
  const auto answered = [&](DWORD thread, const char* text) {
    HWND box = FindOtherDialog(window, thread);
    if (!box) return false;
    EXPECT_EQ(WindowTextUtf8(box), "publisher_dlg_win_test");
    EXPECT_EQ(WindowTextUtf8(GetDlgItem(box, 0xFFFF)), text);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return true;
  };

  Script script(
      dlg,
      {
          // Shown: the controls and what initialisation put into them.
          [&] {
            window = dlg.Window();
            if (!window || !IsWindowVisible(window)) return false;
            // Where the template puts each control, by the first edges: pictures take their
            // bitmap's size, a closed drop-down list its own height.
            struct Place {
              int id, x, y, width, height;
              size_t edges;
            };
            const Place places[] = {
                {IDC_BANNER, 6, 7, 151, 33, 2},         {IDC_START_CLASS, 41, 54, 75, 16, 4},
                {IDC_END_CLASS, 41, 54, 75, 16, 4},     {IDC_PICTURE_TYPES, 51, 130, 101, 87, 3},
                {IDC_CAMERA_LIST, 51, 147, 101, 83, 3}, {IDC_SOUND_LIST, 51, 165, 101, 70, 3},
                {IDC_RATE, 51, 183, 31, 14, 4},         {IDC_SEND_SOUND, 51, 204, 48, 11, 4},
                {IDC_PREVIEW, 6, 237, 153, 117, 2},     {IDC_PAGE, 171, 7, 460, 347, 4}};
            for (const Place& place : places) {
              const auto expected =
                  TemplateEdges(window, place.x, place.y, place.width, place.height);
              const auto actual = EdgesOf(window, place.id);
              for (size_t edge = 0; edge < place.edges; ++edge) {
                EXPECT_EQ(actual[edge], expected[edge]) << place.id << " edge " << edge;
              }
            }
            // The two pictures, at their own sizes.
            const std::pair<int, SIZE> pictures[] = {{IDC_BANNER, {226, 50}},
                                                     {IDC_PREVIEW, {227, 173}}};
            for (const auto& [id, size] : pictures) {
              BITMAP bitmap{};
              const auto handle = reinterpret_cast<HBITMAP>(
                  SendDlgItemMessageW(window, id, STM_GETIMAGE, IMAGE_BITMAP, 0));
              EXPECT_NE(handle, nullptr) << id;
              GetObjectW(handle, sizeof bitmap, &bitmap);
              EXPECT_EQ(bitmap.bmWidth, size.cx) << id;
              EXPECT_EQ(bitmap.bmHeight, size.cy) << id;
            }
            EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
            RECT client;
            GetClientRect(window, &client);
            EXPECT_EQ((std::array<LONG, 4>{0, 0, client.right, client.bottom}),
                      TemplateEdges(window, 0, 0, 638, 385));  // with the status line
            EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) &
                          (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
                      WS_MINIMIZEBOX);

            EXPECT_EQ(WindowTextUtf8(window), "新一代网络教学系统(Merrowin) Build 1.0.140102.20");
            EXPECT_EQ(WindowTextUtf8(GetDlgItem(window, IDC_STATUS)),
                      "未上课 · 上课后发布到 127.0.0.1:1935");
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_START_CLASS)));
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_END_CLASS)));
            HWND types = GetDlgItem(window, IDC_PICTURE_TYPES);
            EXPECT_EQ(SendMessageW(types, CB_GETCOUNT, 0, 0), 4);
            EXPECT_EQ(SendMessageW(types, CB_GETCURSEL, 0, 0), 2);
            wchar_t type[64] = {};
            SendMessageW(types, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(type));
            EXPECT_EQ(Utf8FromWide(type), "画中画（大画面是摄像头）");
            for (int list : {IDC_CAMERA_LIST, IDC_SOUND_LIST}) {
              EXPECT_EQ(SendDlgItemMessageW(window, list, CB_GETCURSEL, 0, 0), 1) << list;
            }
            EXPECT_EQ(WindowTextUtf8(GetDlgItem(window, IDC_RATE)), "500");
            EXPECT_EQ(IsDlgButtonChecked(window, IDC_SEND_SOUND), BST_CHECKED);

            HMENU menu = GetSystemMenu(window, FALSE);
            const int count = GetMenuItemCount(menu);
            EXPECT_GE(count, 2);
            wchar_t entry[128] = {};
            GetMenuStringW(menu, static_cast<UINT>(count - 1), entry, 128, MF_BYPOSITION);
            EXPECT_EQ(Utf8FromWide(entry), "关于(&A)...");
            EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
            EXPECT_TRUE(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) &
                        MF_SEPARATOR);
            EXPECT_TRUE(dlg.Page().HasBrowser());
            // Enter and Escape never end the window, wherever they are typed.
            PostMessageW(GetDlgItem(window, IDC_RATE), WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
            PostMessageW(GetDlgItem(window, IDC_PICTURE_TYPES), WM_KEYDOWN, VK_ESCAPE, 0);
            return true;
          },
          // The picture, taken by the caller while the window waits.
          [&] {
            if (g_screenshotDir.empty()) return true;
            if (screenshotTicks++ == 0) std::ofstream(g_screenshotDir / "shown").put('\n');
            return std::filesystem::exists(g_screenshotDir / "shot.done") || screenshotTicks > 300;
          },
          // Start class: the controls are read back, the session gets the preview area, the page
          // its variables.
          [&] {
            EXPECT_TRUE(IsWindow(window) && IsWindowVisible(window));
            SetDlgItemTextW(window, IDC_RATE, L"800");
            // The keyboard focus follows the class button, as it was pressed with Space: a
            // hidden button must not take it away, or keys stop working during a class.
            SetFocus(GetDlgItem(window, IDC_START_CLASS));
            SendDlgItemMessageW(window, IDC_START_CLASS, BM_CLICK, 0, 0);
            startedAt = std::chrono::steady_clock::now();
            EXPECT_EQ(store.written, CallLog{"Bitrate=800"});
            // The connection is made on a thread of its own; the window goes on meanwhile.
            EXPECT_EQ(WindowTextUtf8(GetDlgItem(window, IDC_STATUS)), "正在连接 127.0.0.1:1935…");
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_START_CLASS)));
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_END_CLASS)));
            EXPECT_EQ(GetFocus(), GetDlgItem(window, IDC_END_CLASS));
            return true;
          },
          // Connected: the session gets the preview area. 下课 at once is the second click of a
          // double-click and leaves the class running.
          [&] {
            if (WindowTextUtf8(GetDlgItem(window, IDC_STATUS)) != "正在直播 00:00") return false;
            const auto preview = reinterpret_cast<PreviewWindow>(GetDlgItem(window, IDC_PREVIEW));
            EXPECT_EQ(sessions.LastEvent(), "capture 1 preview " + std::to_string(preview));
            SendDlgItemMessageW(window, IDC_END_CLASS, BM_CLICK, 0, 0);
            EXPECT_EQ(sessions.LastEvent(), "capture 1 preview " + std::to_string(preview));
            return true;
          },
          // After the double-click time, 下课 ends the class.
          [&] {
            if (std::chrono::steady_clock::now() - startedAt <
                std::chrono::milliseconds(GetDoubleClickTime()))
              return false;
            SendDlgItemMessageW(window, IDC_END_CLASS, BM_CLICK, 0, 0);
            EXPECT_EQ(sessions.LastEvent(), "stop 1");
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, IDC_START_CLASS)));
            EXPECT_EQ(GetFocus(), GetDlgItem(window, IDC_START_CLASS));
            // The window's page is the one the class talks to (the order is the logic's).
            const auto& variables = dlg.Page().Variables();
            std::vector<std::string> states;  // the class's state, told beside the variables
            for (const auto& [name, value] : variables)
              if (name == "classState") states.push_back(value);
            EXPECT_EQ(states, (std::vector<std::string>{"idle", "connecting", "live", "idle"}));
            EXPECT_EQ(variables.size() - states.size(), 6u);
            const std::pair<std::string, std::string> stream{"currentStreamName", store.publishUrl};
            EXPECT_EQ(std::count(variables.begin(), variables.end(), stream), 1);
            PostMessageW(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            return true;
          },
          // The about box shows the product text, not the template's "Ver".
          [&] {
            about = FindOtherDialog(window);
            if (!about) return false;
            EXPECT_EQ(WindowTextUtf8(about), "关于");
            const std::string product = WindowTextUtf8(GetDlgItem(about, IDC_PRODUCT_TEXT));
            EXPECT_EQ(product, AboutDlg::ProductText());
            const LONG style = GetWindowLongW(GetDlgItem(about, IDC_PRODUCT_TEXT), GWL_STYLE);
            EXPECT_EQ(style & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
            EXPECT_FALSE(IsWindowEnabled(window));
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            return true;
          },
          // What the sound worker reports shows in a box on the worker's own thread, which waits
          // there (the step never completes if it went on); the window goes on meanwhile.
          [&] {
            if (IsWindow(about)) return false;
            worker = std::thread([&] {
              workerId = GetCurrentThreadId();
              ShowUserMessage("Error handling DirectSound notifications.");
              workerDone = true;
            });
            return true;
          },
          [&] {
            return workerId && !workerDone &&
                   answered(workerId, "Error handling DirectSound notifications.");
          },
          // Closing tells the user the class is over.
          [&] {
            if (!workerDone) return false;
            worker.join();
            PostMessageW(window, WM_CLOSE, 0, 0);
            return true;
          },
          [&] { return answered(GetCurrentThreadId(), "直播结束!"); },
      });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(dlg.Window(), nullptr);
}

TEST_F(PublisherDlgWin, UnusableSettingsCloseTheWindowUnshown) {
  store.usable = false;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST(PublisherDlgWinInput, FiltersRightButtonAndDialogKeysOnly) {
  const std::tuple<UINT, WPARAM, bool> cases[] = {
      {WM_RBUTTONDOWN, 0, true},     {WM_RBUTTONUP, 0, true},  {WM_KEYDOWN, VK_RETURN, true},
      {WM_KEYDOWN, VK_ESCAPE, true}, {WM_KEYDOWN, 'A', false}, {WM_LBUTTONDOWN, 0, false},
      {WM_CHAR, VK_RETURN, false}};
  for (const auto& [message, wParam, filtered] : cases) {
    MSG msg{};
    msg.message = message;
    msg.wParam = wParam;
    EXPECT_EQ(PublisherDlg::IsFilteredInput(msg), filtered) << message << " " << wParam;
  }
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--screenshot-dir") quillon::g_screenshotDir = argv[i + 1];
  }
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const int result = RUN_ALL_TESTS();
  OleUninitialize();
  return result;
}
