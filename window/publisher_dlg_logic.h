// What the main window does, apart from its widgets: start and end a class, react to a change
// of picture type, exchange the four user choices with the controls, open and close. The widgets,
// the page, the capture session, the device lists and the settings file are reached through the
// small interfaces below, so all of it runs without a display.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/frame_sinks.h"
#include "base/publisher_settings.h"
#include "capture/class_status.h"
#include "window/classroom_page.h"

namespace quillon {

// The window values behind the four controls, mirrors of the settings fields of the same names.
struct WindowValues {
  int32_t HaveAudio = 0;   // check box 1044
  int32_t DeviceID = 0;    // selection of camera list 1053, -1 for none
  int32_t Bitrate = 0;     // edit 1056, whole number
  int32_t VideoStyle = 0;  // selection of picture-type list 1057, -1 for none
};

// The settings file as the window uses it.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Fills record from the file, hands back the four window values and the class id. false when
  // the stored address is unusable (the store has told the user), true otherwise.
  virtual bool ReadSettings(PublisherSettings& record, WindowValues& values,
                            std::string& streamName) = 0;
  // Saves each window value that differs from its field in record.
  virtual void WriteBackSettings(const PublisherSettings& record, const WindowValues& values) = 0;
  // A link handed over by a later start of the program (empty: a fast class), stored as a start
  // with it would store it. false when nothing was stored; the store has told the user why.
  virtual bool TakeLaunchRequest(const std::string& launchUrl) = 0;
};

// The capture of one class.
class ClassSession {
 public:
  virtual ~ClassSession() = default;
  // Connects: true when the class can publish, false when it could not connect. Runs on a
  // thread of its own while the window goes on; nothing but CancelConnect is called on the
  // session meanwhile.
  virtual bool Connect() = 0;
  // On the window's thread while Connect runs: it stops waiting for the teacher's answer to a
  // question of the system's (the screen-sharing dialog) and returns soon.
  virtual void CancelConnect() = 0;
  // After a successful Connect, on the window's thread: the pictures and the sound start.
  virtual void StartCapture(PreviewWindow preview) = 0;
  virtual void Stop() = 0;
  virtual bool IsRunning() const = 0;
  // What the status line tells of the running class.
  virtual ClassReading Read() = 0;
  // Why Start failed (VerbenaStats' StartFailure), 0 when unknown.
  virtual uint32_t StartFailure() const = 0;
};

class SessionFactory {
 public:
  virtual ~SessionFactory() = default;
  // A new session that reads record for its whole life; nullptr when the memory for its
  // pictures cannot be had.
  virtual std::unique_ptr<ClassSession> Create(PublisherSettings& record) = 0;
  // Readies in the background what every session needs (the encoder library), so that 上课 does
  // not wait for it; Create waits for what is still under way.
  virtual void Prepare() {}
};

// One entry of the sound device list: its text and the device it stands for (nullptr for the
// system default, which has no identifier).
struct SoundListItem {
  std::string Description;
  const AudioDeviceId* Device = nullptr;
};

// The devices of this computer, in the same order on every call.
class DeviceLists {
 public:
  virtual ~DeviceLists() = default;
  virtual std::vector<std::string> CameraNames() = 0;
  // The system default first.
  virtual std::vector<SoundListItem> SoundDevices() = 0;
};

enum class MessageIcon { kNone, kExclamation, kInformation };

// The widgets of the main window.
class PublisherView {
 public:
  virtual ~PublisherView() = default;

  virtual void AddAboutMenuEntry(const std::string& text) = 0;
  virtual void RunAboutBox() = 0;
  virtual void StartSkin(const std::string& skinFile) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // Raises the window above the others and gives it the keyboard.
  virtual void BringToFront() = 0;
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // Shows "上课" enabled and hides "下课" disabled (idle), or the other way round (publishing).
  virtual void ShowClassButtons(bool publishing) = 0;
  // The status line under the controls, painted at once.
  virtual void ShowStatus(const std::string& line) = 0;
  // The native window the camera preview draws into.
  virtual PreviewWindow PreviewArea() = 0;
  // Runs work on a thread of its own, then done with its result on the window's thread. One at a
  // time. FinishBackground waits for the work in progress and runs its done at once, if any.
  virtual void RunInBackground(std::function<bool()> work, std::function<void(bool)> done) = 0;
  virtual void FinishBackground() = 0;
  // The system's double-click time: 下课 sits where 上课 was, and a click on it this soon after
  // 上课 is the second of a double-click.
  virtual std::chrono::milliseconds DoubleClickTime() = 0;
  // The pause on the window's thread after a class has started.
  virtual void Pause(int milliseconds) = 0;

  virtual void FillCameraList(const std::vector<std::string>& names) = 0;
  virtual void FillSoundList(const std::vector<std::string>& names) = 0;
  // Selecting a position outside the list leaves it without selection.
  virtual void SelectSound(int index) = 0;
  virtual int SoundSelection() = 0;  // -1 for none

  // The four controls.
  virtual bool SendSoundChecked() = 0;
  virtual void SetSendSoundChecked(bool checked) = 0;
  virtual int CameraSelection() = 0;  // -1 for none
  virtual void SelectCamera(int index) = 0;
  virtual std::string RateText() = 0;
  virtual void SetRateText(const std::string& text) = 0;
  virtual int PictureTypeSelection() = 0;  // -1 for none
  virtual void SelectPictureType(int index) = 0;
};

// One piece of input on its way to the window or one of its controls, the page included.
struct InputMessage {
  enum class Kind {
    kMouseButtonPress,
    kMouseButtonRelease,
    kMouseDoubleClick,
    kContextMenu,
    kKeyPress,
    kOther
  };
  enum class Button { kNone, kLeft, kRight, kMiddle };
  Kind kind = Kind::kOther;
  Button button = Button::kNone;
  int key = 0;  // virtual key: 13 Enter, 27 Escape
};

inline constexpr const char kWindowTitleFormat[] = "新一代网络教学系统(Merrowin) Build %s";
inline constexpr const char kBuildString[] = "1.0.140102.20";
inline constexpr const char kAboutMenuText[] = "关于(&A)...";
inline constexpr int kAboutCommand = 0x10;
inline constexpr const char kClassOver[] = "直播结束!";
inline constexpr const char kEnterWholeNumber[] = "请输入一个整数。";
// A typed rate the encoder cannot use; %s is what it needs, %d what was typed.
inline constexpr const char kRateBoxFormat[] = "速率设定 %d 无效, 需要 %s (单位 kb)";
// A class that could not get the memory for its pictures.
inline constexpr const char kNoMemoryForClass[] =
    "内存不足, 无法按 config.ini 的画面大小开始上课。请把 ScreenWidth/ScreenHeight 或 "
    "VideoWidth/VideoHeight 改小。";
inline constexpr const char kLinkAfterClass[] =
    "收到了新的课堂链接。\n本节课继续直播；下课后，新的课堂才会生效。";
inline constexpr const char kSkinFile[] = "face.dll";
inline constexpr const char kPageFile[] = "Tindlekit.dll";

class PublisherDlgLogic {
 public:
  // programFolder holds the skin kSkinFile and the page kPageFile.
  PublisherDlgLogic(PublisherView& view, ClassroomPage& page, SettingsStore& store,
                    SessionFactory& sessions, DeviceLists& devices,
                    std::filesystem::path programFolder);
  ~PublisherDlgLogic();
  PublisherDlgLogic(const PublisherDlgLogic&) = delete;
  PublisherDlgLogic& operator=(const PublisherDlgLogic&) = delete;

  // false when the settings are unusable: the window closes without being shown.
  bool OnInitDialog();
  void OnStartClass();
  void OnEndClass();
  void OnVideoStyleChange();
  // Ends a running class, then says "直播结束!" when a class ran since the window opened.
  void OnClose();
  // Once a second while the window is open: the status line from the class's reading.
  void OnStatusTick();
  // Stops a running class, then lets go of the session and the settings record.
  void OnDestroy();
  // The classroom page has been drawn: the next class is readied meanwhile.
  void OnPageShown();
  // A later start of the program handed over its link (empty: a fast class). The window comes to
  // the front; an idle window takes the link as a start would, a class in progress keeps going
  // and the link is taken at 下课. One that arrives before OnInitDialog is taken there.
  void OnLaunchRequest(const std::string& launchUrl);
  // true when the command was the about entry (handled), false for default processing.
  bool OnSysCommand(int command);
  // true when the input is to be discarded before it reaches its target.
  static bool PreTranslateMessage(const InputMessage& message);

  // Moves the four values between the controls and the window (fromControls) or back. Reading
  // stops at a rate that is not a whole number, after prompting; false then.
  bool DoDataExchange(bool fromControls);
  void SetPageVariables();

  const WindowValues& Values() const { return values_; }
  const std::string& StreamName() const { return streamName_; }
  const PublisherSettings* Settings() const { return settings_.get(); }
  bool HasSession() const { return session_ != nullptr; }

 private:
  bool ReadSettings();
  void ShowStatus(const ClassReading& reading);
  // The rest of OnStartClass once the connection is made (or could not be).
  void OnConnected(bool connected);
  // The window closes while the class connects: the connection is called off and waited for.
  void CallOffConnection();
  // 下课 without taking a link that waits for it: a change of picture type restarts the class.
  void EndClass();
  // Takes a link that waited for the class to end, if any.
  void TakePendingRequest();

  PublisherView& view_;
  ClassroomPage& page_;
  SettingsStore& store_;
  SessionFactory& sessions_;
  DeviceLists& devices_;
  const std::filesystem::path programFolder_;
  std::vector<SoundListItem> soundEntries_;
  std::string streamName_;
  WindowValues values_;
  std::unique_ptr<PublisherSettings> settings_;
  std::unique_ptr<ClassSession> session_;
  std::unique_ptr<ClassStatusTracker> status_;
  bool classStarted_ = false;  // a class has run since the window opened
  bool connecting_ = false;    // a session connects in the background
  bool closing_ = false;       // the window closes: a connection that ends now starts nothing
  bool initialised_ = false;   // OnInitDialog has run
  std::optional<std::string> pendingRequest_;  // a handed-over link that waits for 下课
  bool styleChangedMeanwhile_ = false;  // the picture type changed while connecting, to this:
  int styleChosenMeanwhile_ = -1;
  std::chrono::steady_clock::time_point startPressed_{};
  std::string statusTarget_;
  std::string soundProblemTold_;  // why the last class had no sound, once told
  double nextStatusLog_ = 0;      // steady-clock seconds
};

// The text of a rate box as a whole number: optional blanks, an optional sign, digits, and
// optional blanks again. false for anything else, including numbers outside 32 bits.
bool ParseWholeNumber(const std::string& text, int32_t& value);

}  // namespace quillon
