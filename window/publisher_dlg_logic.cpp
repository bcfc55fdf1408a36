#include "window/publisher_dlg_logic.h"

#include "base/log.h"
#include "launch/settings_check.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <utility>

namespace quillon {

bool ParseWholeNumber(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  size_t end = text.size();
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (i == end) return false;
  int64_t magnitude = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

PublisherDlgLogic::PublisherDlgLogic(PublisherView& view, ClassroomPage& page, SettingsStore& store,
                                     SessionFactory& sessions, DeviceLists& devices,
                                     std::filesystem::path programFolder)
    : view_(view),
      page_(page),
      store_(store),
      sessions_(sessions),
      devices_(devices),
      programFolder_(std::move(programFolder)) {}

PublisherDlgLogic::~PublisherDlgLogic() {
  OnDestroy();
}

bool PublisherDlgLogic::OnInitDialog() {
  view_.AddAboutMenuEntry(kAboutMenuText);
  view_.StartSkin((programFolder_ / kSkinFile).string());

  char title[256];
  std::snprintf(title, sizeof title, kWindowTitleFormat, kBuildString);
  view_.SetTitle(title);

  page_.LoadMovie(0, (programFolder_ / kPageFile).string());
  page_.Play();

  LogTiming("page load started");
  view_.FillCameraList(devices_.CameraNames());
  LogTiming("cameras listed");
  soundEntries_ = devices_.SoundDevices();
  LogTiming("sound devices listed");
  std::vector<std::string> soundNames;
  for (const SoundListItem& entry : soundEntries_) soundNames.push_back(entry.Description);
  view_.FillSoundList(soundNames);
  // The first entry is the system default; the second is the first real device.
  view_.SelectSound(1);

  view_.ShowClassButtons(false);

  // A link handed over while the window was being made is newer than the one it started with.
  initialised_ = true;
  if (pendingRequest_) store_.TakeLaunchRequest(*std::exchange(pendingRequest_, std::nullopt));
  // An unusable address has been reported by the store; the window then closes at once.
  const bool usable = ReadSettings();
  DoDataExchange(false);
  SetPageVariables();
  OnStatusTick();
  LogTiming("settings read");
  return usable;
}

bool PublisherDlgLogic::ReadSettings() {
  if (!settings_) settings_ = std::make_unique<PublisherSettings>();
  return store_.ReadSettings(*settings_, values_, streamName_);
}

bool PublisherDlgLogic::DoDataExchange(bool fromControls) {
  if (!fromControls) {
    view_.SetSendSoundChecked(values_.HaveAudio != 0);
    view_.SelectCamera(values_.DeviceID);
    view_.SetRateText(std::to_string(values_.Bitrate));
    view_.SelectPictureType(values_.VideoStyle);
    return true;
  }
  values_.HaveAudio = view_.SendSoundChecked() ? 1 : 0;
  values_.DeviceID = view_.CameraSelection();
  int32_t rate = 0;
  if (!ParseWholeNumber(view_.RateText(), rate)) {
    view_.ShowMessage(kEnterWholeNumber, MessageIcon::kExclamation);
    return false;
  }
  values_.Bitrate = rate;
  values_.VideoStyle = view_.PictureTypeSelection();
  return true;
}

void PublisherDlgLogic::SetPageVariables() {
  page_.SetVariable("isOMB", "true");
  page_.SetVariable("meetingid", streamName_);
}

void PublisherDlgLogic::OnStartClass() {
  if (connecting_) return;  // 上课 is hidden while a class connects: a click already queued
  startPressed_ = std::chrono::steady_clock::now();
  LogTiming("start clicked");
  DoDataExchange(true);
  // A rate the encoder cannot use is refused before anything is saved; the box says what.
  if (std::string need = BitrateRange(values_.Bitrate); !need.empty()) {
    char message[160];
    std::snprintf(message, sizeof message, kRateBoxFormat, values_.Bitrate, need.c_str());
    if (settings_) values_.Bitrate = settings_->Bitrate;  // the stored rate stays the rate
    view_.ShowMessage(message, MessageIcon::kExclamation);
    return;
  }
  view_.ShowClassButtons(true);

  // A session that is still held is over: it is stopped and gone before the settings change
  // under it and before the next one is made.
  if (session_) {
    if (session_->IsRunning()) session_->Stop();
    session_.reset();
  }

  if (!settings_) settings_ = std::make_unique<PublisherSettings>();
  store_.WriteBackSettings(*settings_, values_);
  ReadSettings();

  const int selection = view_.SoundSelection();
  if (selection >= 0 && static_cast<size_t>(selection) < soundEntries_.size()) {
    settings_->AudioDevice = soundEntries_[static_cast<size_t>(selection)].Device;
  } else {
    settings_->AudioDevice = NoAudioSelection();
  }

  // A class never starts on values it cannot use (a frame rate of 0, a negative inset
  // position, ...): the teacher is told which key of config.ini to mend.
  if (std::string problem = CheckClassSettings(*settings_); !problem.empty()) {
    view_.ShowClassButtons(false);
    view_.ShowMessage(problem, MessageIcon::kExclamation);
    return;
  }
  // Sound the encoder cannot take leaves the class without sound: said once, not at every start.
  if (settings_->HaveAudio != 0) {
    std::string problem = CheckSoundSettings(*settings_);
    if (!problem.empty() && problem != soundProblemTold_) {
      view_.ShowMessage(problem, MessageIcon::kExclamation);
    }
    soundProblemTold_ = std::move(problem);
  }

  LogTiming("settings saved");
  ClassReading starting;
  starting.starting = true;
  ShowStatus(starting);
  session_ = sessions_.Create(*settings_);
  LogTiming("session made");
  if (!session_) {
    view_.ShowClassButtons(false);
    OnStatusTick();
    view_.ShowMessage(kNoMemoryForClass, MessageIcon::kExclamation);
    return;
  }
  // The window keeps painting while the connection is made (up to its bound); the steps after
  // it follow in OnConnected, in the same order as ever.
  connecting_ = true;
  ClassSession* session = session_.get();
  view_.RunInBackground([session] { return session->Connect(); },
                        [this](bool connected) { OnConnected(connected); });
}

void PublisherDlgLogic::OnConnected(bool connected) {
  connecting_ = false;
  if (closing_) return;  // the window closed meanwhile: the session is stopped with it
  if (connected) {
    LogTiming("connected, back on the window's thread");
    session_->StartCapture(view_.PreviewArea());
    LogTiming("capture started");
    classStarted_ = true;
    OnStatusTick();
    view_.Pause(100);
    DoDataExchange(false);
    SetPageVariables();
    page_.SetVariable("currentStreamName", settings_->PublishUrl);
    if (styleChangedMeanwhile_) {  // the exchange above showed the old one again
      styleChangedMeanwhile_ = false;
      view_.SelectPictureType(styleChosenMeanwhile_);
      OnVideoStyleChange();
    }
    return;
  }
  styleChangedMeanwhile_ = false;
  TakePendingRequest();
  // A start that failed leaves nothing running: whatever it had begun is ended, so a later
  // change of picture type does not start a class the teacher did not ask for.
  const std::string message =
      ConnectFailedMessage(session_ ? session_->StartFailure() : 0, settings_->PublishUrl);
  if (session_ && session_->IsRunning()) session_->Stop();
  view_.ShowClassButtons(false);
  OnStatusTick();
  view_.ShowMessage(message, MessageIcon::kExclamation);
}

void PublisherDlgLogic::OnEndClass() {
  // Input that arrives while the class connects, or the second click of a double-click on 上课
  // (下课 takes its place), never ends the class it started.
  if (connecting_ || std::chrono::steady_clock::now() - startPressed_ < view_.DoubleClickTime())
    return;
  EndClass();
  TakePendingRequest();
}

void PublisherDlgLogic::EndClass() {
  if (session_) session_->Stop();
  view_.ShowClassButtons(false);
  page_.SetVariable("currentStreamName", "");
  OnStatusTick();
}

void PublisherDlgLogic::OnLaunchRequest(const std::string& launchUrl) {
  // The latest link wins: one that waits is replaced.
  pendingRequest_ = launchUrl;
  if (!initialised_) return;
  view_.BringToFront();
  if (connecting_ || (session_ && session_->IsRunning())) {
    view_.ShowMessage(kLinkAfterClass, MessageIcon::kInformation);
    return;
  }
  TakePendingRequest();
}

void PublisherDlgLogic::TakePendingRequest() {
  if (!pendingRequest_) return;
  if (!store_.TakeLaunchRequest(*std::exchange(pendingRequest_, std::nullopt))) return;
  // The page and the status line show the new class; the controls keep what the teacher chose.
  const WindowValues chosen = values_;
  ReadSettings();
  values_ = chosen;
  LogInfo("a later start handed over class %s", streamName_.c_str());
  SetPageVariables();
  OnStatusTick();
}

void PublisherDlgLogic::OnStatusTick() {
  // A connecting session belongs to its connection's thread until it is done.
  ClassReading reading;
  reading.starting = connecting_;
  if (!connecting_ && session_ && session_->IsRunning()) reading = session_->Read();
  ShowStatus(reading);
}

void PublisherDlgLogic::ShowStatus(const ClassReading& reading) {
  // Where a class goes is read from the stored address: it changes with a new link.
  const std::string target = settings_ ? PublishTarget(settings_->PublishUrl) : "";
  if (!status_ || target != statusTarget_) {
    status_ = std::make_unique<ClassStatusTracker>(target);
    statusTarget_ = target;
  }
  const double now =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const ClassStatusTracker::Status status = status_->Update(now, reading);
  view_.ShowStatus(status.line);
  // The log tells the class's course too, at each change and every 10 seconds of a class: a
  // lecture hall keeps it, a test reads it.
  if (status.changed || (status.state != ClassState::kIdle && now >= nextStatusLog_)) {
    LogInfo("status: %s", status.line.c_str());
    nextStatusLog_ = now + 10;
  }
  if (status.changed) page_.ShowClassState(ClassStateName(status.state));
  // A refusal ends the attempts for this class: the teacher hears of it once.
  if (status.changed && status.state == ClassState::kGaveUp)
    view_.ShowMessage(status.line, MessageIcon::kExclamation);
}

void PublisherDlgLogic::OnVideoStyleChange() {
  if (connecting_) {  // the class restarts with the new picture type once it is connected
    styleChangedMeanwhile_ = true;
    styleChosenMeanwhile_ = view_.PictureTypeSelection();
    return;
  }
  DoDataExchange(true);
  if (!settings_ || values_.VideoStyle == settings_->VideoStyle) return;
  if (session_ && session_->IsRunning()) {
    EndClass();
    OnStartClass();
  }
}

void PublisherDlgLogic::OnClose() {
  // The class ends before the box: the desktop is not published while the box waits for OK. A
  // window that ran no class has none to call over.
  closing_ = true;
  if (connecting_) CallOffConnection();
  closing_ = false;
  if (session_ && session_->IsRunning()) EndClass();
  if (classStarted_) view_.ShowMessage(kClassOver, MessageIcon::kExclamation);
}

void PublisherDlgLogic::CallOffConnection() {
  // A sharing dialog the teacher has not answered would hold the window open until it times out.
  session_->CancelConnect();
  view_.FinishBackground();
}

void PublisherDlgLogic::OnDestroy() {
  closing_ = true;
  if (connecting_) CallOffConnection();
  // The session reads the settings record while it runs: it goes first.
  if (session_ && session_->IsRunning()) session_->Stop();
  session_.reset();
  settings_.reset();
}

void PublisherDlgLogic::OnPageShown() {
  sessions_.Prepare();
}

bool PublisherDlgLogic::OnSysCommand(int command) {
  if ((command & 0xFFF0) != kAboutCommand) return false;
  view_.RunAboutBox();
  return true;
}

bool PublisherDlgLogic::PreTranslateMessage(const InputMessage& message) {
  using Kind = InputMessage::Kind;
  switch (message.kind) {
    case Kind::kMouseButtonPress:
    case Kind::kMouseButtonRelease:
    case Kind::kMouseDoubleClick:
      return message.button == InputMessage::Button::kRight;
    case Kind::kContextMenu:
      return true;
    case Kind::kKeyPress:
      return message.key == 13 || message.key == 27;
    case Kind::kOther:
      break;
  }
  return false;
}

}  // namespace quillon
