// The main window: dialog 102 in Qt widgets. The widgets live here; what they do is
// PublisherDlgLogic's.
#pragma once

#include <QDialog>
#include <QIcon>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_messages.h"
#include "window/background_task.h"
#include "window/message_box_qt.h"
#include "window/publisher_dlg_logic.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWindow;

namespace quillon {

class CShockwaveFlash;

class PublisherDlg : public QDialog, public PublisherView {
 public:
  // programFolder holds the skin and the classroom page.
  PublisherDlg(SettingsStore& store, SessionFactory& sessions, DeviceLists& devices,
               const std::filesystem::path& programFolder, QWidget* parent = nullptr);
  ~PublisherDlg() override;

  // Initialises the window and runs it until it closes. Returns without showing it when the
  // settings are unusable.
  int DoModal();

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

  // Drops the input the window never lets through (installed on the application).
  bool eventFilter(QObject* watched, QEvent* event) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // Narrows the classroom page (and the texts beside it) until the framed window fits an area
  // of this size, as on a 1024 x 768 projector; the controls on the left keep their places.
  void FitInto(const QSize& area);
  bool BelongsToWindow(QObject* object) const;

  QIcon icon_;
  QPushButton* startButton_ = nullptr;
  QPushButton* endButton_ = nullptr;
  QPushButton* menuButton_ = nullptr;
  QComboBox* pictureTypes_ = nullptr;
  QComboBox* cameras_ = nullptr;
  QComboBox* sounds_ = nullptr;
  QLineEdit* rate_ = nullptr;
  QCheckBox* sendSound_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* pageNote_ = nullptr;  // the line under the page
  QWindow* preview_ = nullptr;
  CShockwaveFlash* page_ = nullptr;
  BackgroundTask background_;  // what RunInBackground runs
  // While the window exists, what the camera and the sound capture report reaches the teacher in
  // boxes. Declared before the logic: the sessions it owns, with their capture objects, go first.
  MessageBoxMessages deviceBoxes_;
  ScopedUserMessages deviceMessages_{deviceBoxes_};
  std::unique_ptr<PublisherDlgLogic> logic_;
};

}  // namespace quillon
