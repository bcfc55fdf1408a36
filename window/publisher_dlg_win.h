// The main window on Windows: dialog 102 as a Win32 dialog. The controls live here; what they do
// is PublisherDlgLogic's.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_messages.h"
#include "window/background_task.h"
#include "window/message_box_win.h"
#include "window/publisher_dlg_logic.h"
#include "window/shockwave_flash_win.h"

namespace quillon {

class PublisherDlg : public PublisherView {
 public:
  // programFolder holds the skin and the classroom page.
  PublisherDlg(SettingsStore& store, SessionFactory& sessions, DeviceLists& devices,
               const std::filesystem::path& programFolder, HWND parent = nullptr);
  ~PublisherDlg() override;
  PublisherDlg(const PublisherDlg&) = delete;
  PublisherDlg& operator=(const PublisherDlg&) = delete;

  // Creates the window, initialises it and runs it until it closes; IDCANCEL when it closed. The
  // window is not shown when the settings are unusable. -1 when it cannot be created.
  INT_PTR DoModal();

  // While DoModal runs: the dialog window (nullptr otherwise) and the classroom page.
  HWND Window() const { return window_; }
  const CShockwaveFlash& Page() const { return page_; }

  // A link handed over by a later start of the program (empty: a fast class).
  void OnLaunchRequest(const std::string& launchUrl) { logic_->OnLaunchRequest(launchUrl); }

  // PublisherView
  void AddAboutMenuEntry(const std::string& text) override;
  void RunAboutBox() override;
  void StartSkin(const std::string& skinFile) override;
  void SetTitle(const std::string& title) override;
  void BringToFront() override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void ShowClassButtons(bool publishing) override;
  void ShowStatus(const std::string& line) override;
  PreviewWindow PreviewArea() override;
  void RunInBackground(std::function<bool()> work, std::function<void(bool)> done) override;
  void FinishBackground() override;
  std::chrono::milliseconds DoubleClickTime() override;
  void Pause(int milliseconds) override;
  void FillCameraList(const std::vector<std::string>& names) override;
  void FillSoundList(const std::vector<std::string>& names) override;
  void SelectSound(int index) override;
  int SoundSelection() override;
  bool SendSoundChecked() override;
  void SetSendSoundChecked(bool checked) override;
  int CameraSelection() override;
  void SelectCamera(int index) override;
  std::string RateText() override;
  void SetRateText(const std::string& text) override;
  int PictureTypeSelection() override;
  void SelectPictureType(int index) override;

  // The input that the window drops before it reaches the window or any of its controls.
  static bool IsFilteredInput(const MSG& message);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnCommand(int id, int code);
  bool OnPaint();
  void End(INT_PTR result);
  bool BelongsToWindow(HWND target) const;

  HWND parent_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = IDCANCEL;
  CShockwaveFlash page_;
  BackgroundTask background_;  // what RunInBackground runs
  // While the window exists, what the camera and the sound capture report reaches the teacher in
  // boxes. Declared before the logic: the sessions it owns, with their capture objects, go first.
  MessageBoxMessages deviceBoxes_;
  ScopedUserMessages deviceMessages_{deviceBoxes_};
  std::unique_ptr<PublisherDlgLogic> logic_;
};

}  // namespace quillon
