#include "window/publisher_dlg_logic.h"

#include <gtest/gtest.h>
#include <filesystem>

#include <string>
#include <utility>
#include <vector>

#include "base/picture_type.h"

namespace quillon {
namespace {

using Log = std::vector<std::string>;

class FakePage : public ClassroomPage {
 public:
  void LoadMovie(int32_t layer, const std::string& path) override {
    calls.push_back("LoadMovie " + std::to_string(layer) + " " + path);
  }
  void Play() override { calls.push_back("Play"); }
  void SetVariable(const std::string& name, const std::string& value) override {
    calls.push_back(name + "=" + value);
  }
  Log calls;
};

// config.ini as the store sees it: the stored values and which keys were written.
class FakeStore : public SettingsStore {
 public:
  bool ReadSettings(PublisherSettings& record, WindowValues& values,
                    std::string& streamName) override {
    ++reads;
    record = stored;
    values = {stored.HaveAudio, stored.DeviceID, stored.Bitrate, stored.VideoStyle};
    streamName = streamNameStored;
    record.PublishUrl = usable ? publishUrl : "";
    return usable;
  }
  void WriteBackSettings(const PublisherSettings& record, const WindowValues& values) override {
    auto save = [&](const char* key, int32_t field, int32_t value, int32_t& storedField) {
      if (field == value) return;
      written.push_back(std::string(key) + "=" + std::to_string(value));
      storedField = value;
    };
    save("HaveAudio", record.HaveAudio, values.HaveAudio, stored.HaveAudio);
    save("DeviceID", record.DeviceID, values.DeviceID, stored.DeviceID);
    save("Bitrate", record.Bitrate, values.Bitrate, stored.Bitrate);
    save("VideoStyle", record.VideoStyle, values.VideoStyle, stored.VideoStyle);
  }
  PublisherSettings stored;
  std::string publishUrl = "rtmp://127.0.0.1/live/12345678";
  std::string streamNameStored = "12345678";
  bool usable = true;
  int reads = 0;
  Log written;
};

struct SessionTrace {
  Log events;
  int alive = 0;
};

class FakeSession : public ClassSession {
 public:
  FakeSession(SessionTrace& trace, int id, bool startSucceeds, PublisherSettings& record)
      : trace_(trace), id_(id), startSucceeds_(startSucceeds), record_(record) {
    ++trace_.alive;
    trace_.events.push_back("create " + std::to_string(id_));
  }
  ~FakeSession() override {
    --trace_.alive;
    trace_.events.push_back("destroy " + std::to_string(id_));
  }
  bool Start(PreviewWindow preview) override {
    running_ = true;  // as the engine does: running from the start of Start until Stop
    trace_.events.push_back("start " + std::to_string(id_) + " style " +
                            std::to_string(record_.VideoStyle) + " preview " +
                            std::to_string(preview));
    return startSucceeds_;
  }
  void Stop() override {
    running_ = false;
    trace_.events.push_back("stop " + std::to_string(id_));
  }
  bool IsRunning() const override { return running_; }

 private:
  SessionTrace& trace_;
  int id_;
  bool startSucceeds_;
  PublisherSettings& record_;
  bool running_ = false;
};

class FakeFactory : public SessionFactory {
 public:
  std::unique_ptr<ClassSession> Create(PublisherSettings& record) override {
    audioDevices.push_back(record.AudioDevice);
    return std::make_unique<FakeSession>(trace, ++made, startSucceeds, record);
  }
  SessionTrace trace;
  bool startSucceeds = true;
  int made = 0;
  std::vector<const AudioDeviceId*> audioDevices;
};

class FakeDevices : public DeviceLists {
 public:
  std::vector<std::string> CameraNames() override { return cameras; }
  std::vector<SoundListItem> SoundDevices() override { return sounds; }
  std::vector<std::string> cameras{"Camera A", "Camera B"};
  std::vector<SoundListItem> sounds;
};

// The widgets: lists keep their selection the way a drop-down list does.
class FakeView : public PublisherView {
 public:
  void AddAboutMenuEntry(const std::string& text) override { menu.push_back(text); }
  void RunAboutBox() override { ++aboutBoxes; }
  void StartSkin(const std::string& file) override { skin = file; }
  void SetTitle(const std::string& text) override { title = text; }
  void ShowMessage(const std::string& text, MessageIcon) override { messages.push_back(text); }
  void ShowClassButtons(bool isPublishing) override { publishing = isPublishing; }
  PreviewWindow PreviewArea() override { return 4242; }
  void Pause(int milliseconds) override { paused += milliseconds; }
  void FillCameraList(const std::vector<std::string>& names) override { cameras = names; }
  void FillSoundList(const std::vector<std::string>& names) override { sounds = names; }
  void SelectSound(int index) override { sound = Clamp(index, sounds.size()); }
  int SoundSelection() override { return sound; }
  bool SendSoundChecked() override { return sendSound; }
  void SetSendSoundChecked(bool checked) override { sendSound = checked; }
  int CameraSelection() override { return camera; }
  void SelectCamera(int index) override { camera = Clamp(index, cameras.size()); }
  std::string RateText() override { return rate; }
  void SetRateText(const std::string& text) override { rate = text; }
  int PictureTypeSelection() override { return pictureType; }
  void SelectPictureType(int index) override {
    pictureType = Clamp(index, kPictureTypeLabels.size());
  }

  static int Clamp(int index, size_t size) {
    return index >= 0 && static_cast<size_t>(index) < size ? index : -1;
  }

  Log menu, messages;
  std::vector<std::string> cameras, sounds;
  std::string skin, title, rate;
  bool publishing = true, sendSound = false;
  int aboutBoxes = 0, paused = 0, sound = -1, camera = -1, pictureType = -1;
};

class PublisherDlgLogicTest : public ::testing::Test {
 protected:
  PublisherDlgLogicTest() {
    store.stored.HaveAudio = 1;
    store.stored.DeviceID = 1;
    store.stored.Bitrate = 500;
    store.stored.VideoStyle = 0;
    store.stored.ScreenWidth = 1280;
    store.stored.ScreenHeight = 720;
    store.stored.VideoWidth = 640;
    store.stored.VideoHeight = 480;
    store.stored.ScreenRate = 4;
    store.stored.FrameRate = 15;
    store.stored.SamplesPerSec = 44100;
    store.stored.BitsPerSample = 16;
    store.stored.Chanels = 2;
    devices.sounds = {{"Default", nullptr}, {"Microphone", &mic}, {"Line in", &line}};
  }

  void Open() { ASSERT_TRUE(logic.OnInitDialog()); }

  AudioDeviceId mic{{1}, "mic"}, line{{2}, "line"};
  FakeView view;
  FakePage page;
  FakeStore store;
  FakeFactory factory;
  FakeDevices devices;
  const std::filesystem::path programFolder = std::filesystem::path("program folder") / "bin";
  PublisherDlgLogic logic{view, page, store, factory, devices, programFolder};
};

TEST_F(PublisherDlgLogicTest, OpeningPreparesWindowPageAndControls) {
  Open();
  EXPECT_EQ(view.title, "新一代网络教学系统(Merrowin) Build 1.0.140102.20");
  EXPECT_EQ(view.menu, Log{"关于(&A)..."});
  EXPECT_EQ(view.skin, (programFolder / "face.dll").string());
  ASSERT_EQ(page.calls.size(), 4u);
  EXPECT_EQ(page.calls[0], "LoadMovie 0 " + (programFolder / "Tindlekit.dll").string());
  EXPECT_EQ(page.calls[1], "Play");
  EXPECT_EQ(page.calls[2], "isOMB=true");
  EXPECT_EQ(page.calls[3], "meetingid=12345678");
  // The second sound entry, the first real device, whatever was chosen before.
  EXPECT_EQ(view.sound, 1);
  EXPECT_EQ(view.camera, 1);
  EXPECT_EQ(view.rate, "500");
  EXPECT_TRUE(view.sendSound);
  EXPECT_EQ(view.pictureType, 0);
  EXPECT_FALSE(view.publishing);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(logic.HasSession());
}

TEST_F(PublisherDlgLogicTest, UnusableAddressClosesTheWindowAfterFinishingInitialisation) {
  store.usable = false;
  EXPECT_FALSE(logic.OnInitDialog());
  ASSERT_GE(page.calls.size(), 2u);
  EXPECT_EQ(page.calls.back(), "meetingid=12345678");
}

TEST_F(PublisherDlgLogicTest, StartTellsThePageInOrderAndEndClearsTheStream) {
  Open();
  page.calls.clear();
  view.sendSound = false;  // one change: only that key is saved
  logic.OnStartClass();
  EXPECT_EQ(store.written, Log{"HaveAudio=0"});
  EXPECT_EQ(page.calls, (Log{"isOMB=true", "meetingid=12345678",
                             "currentStreamName=rtmp://127.0.0.1/live/12345678"}));
  EXPECT_TRUE(view.publishing);
  EXPECT_EQ(view.paused, 100);
  EXPECT_EQ(factory.trace.events, (Log{"create 1", "start 1 style 0 preview 4242"}));
  EXPECT_EQ(factory.audioDevices, std::vector<const AudioDeviceId*>{&mic});

  page.calls.clear();
  logic.OnEndClass();
  EXPECT_EQ(page.calls, Log{"currentStreamName="});
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(factory.trace.events.back(), "stop 1");
}

TEST_F(PublisherDlgLogicTest, SoundChoiceBecomesTheAudioDevice) {
  Open();
  view.sound = 0;  // the system default carries no identifier: a class without sound
  logic.OnStartClass();
  logic.OnEndClass();
  view.sound = -1;
  logic.OnStartClass();
  logic.OnEndClass();
  view.sound = 2;
  logic.OnStartClass();
  EXPECT_EQ(factory.audioDevices,
            (std::vector<const AudioDeviceId*>{nullptr, NoAudioSelection(), &line}));
}

TEST_F(PublisherDlgLogicTest, NoSecondSoundEntryLeavesNothingSelected) {
  devices.sounds = {{"Default", nullptr}};
  Open();
  EXPECT_EQ(view.sound, -1);
  logic.OnStartClass();
  EXPECT_EQ(factory.audioDevices, std::vector<const AudioDeviceId*>{NoAudioSelection()});
}

TEST_F(PublisherDlgLogicTest, StoredCameraOutsideTheListIsSavedAsNone) {
  store.stored.DeviceID = 7;
  Open();
  EXPECT_EQ(view.camera, -1);
  logic.OnStartClass();
  EXPECT_EQ(store.written, Log{"DeviceID=-1"});
  EXPECT_EQ(store.stored.DeviceID, -1);
}

TEST_F(PublisherDlgLogicTest, RateThatIsNoWholeNumberStopsTheExchangeWithAPrompt) {
  Open();
  view.sendSound = false;
  view.rate = "80kb";
  view.pictureType = 2;
  logic.OnStartClass();
  EXPECT_EQ(view.messages, Log{"请输入一个整数。"});
  // Read up to the rate box; the rate and the picture type keep their previous values.
  EXPECT_EQ(store.written, Log{"HaveAudio=0"});
  EXPECT_EQ(factory.trace.events.back(), "start 1 style 0 preview 4242");
  // The controls are written back from the values after a successful start.
  EXPECT_EQ(view.rate, "500");
}

TEST(ParseWholeNumberTest, AcceptsWhatADialogRateBoxAccepts) {
  int32_t value = 0;
  for (auto [text, expected] :
       std::vector<std::pair<std::string, int32_t>>{{"800", 800},
                                                    {"  42", 42},
                                                    {"-5", -5},
                                                    {"+7", 7},
                                                    {"2147483647", 2147483647},
                                                    {"-2147483648", -2147483647 - 1}}) {
    ASSERT_TRUE(ParseWholeNumber(text, value)) << text;
    EXPECT_EQ(value, expected);
  }
  for (const char* text : {"", " ", "-", "12 ", "1.5", "abc", "2147483648", "-2147483649",
                           "99999999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(text, value)) << text;
  }
}

TEST_F(PublisherDlgLogicTest, PictureTypeChangeWhileIdleWaitsForTheNextStart) {
  Open();
  view.pictureType = 0;  // the stored one: nothing
  logic.OnVideoStyleChange();
  view.pictureType = 3;
  logic.OnVideoStyleChange();
  EXPECT_TRUE(factory.trace.events.empty());
  EXPECT_TRUE(store.written.empty());
  logic.OnStartClass();
  EXPECT_EQ(store.written, Log{"VideoStyle=3"});
}

TEST_F(PublisherDlgLogicTest, PictureTypeChangeWhilePublishingRestartsTheClass) {
  Open();
  logic.OnStartClass();
  page.calls.clear();
  view.pictureType = 2;
  logic.OnVideoStyleChange();
  // The old session is stopped and gone before the new one exists; one session at a time.
  EXPECT_EQ(factory.trace.events, (Log{"create 1", "start 1 style 0 preview 4242", "stop 1",
                                       "destroy 1", "create 2", "start 2 style 2 preview 4242"}));
  EXPECT_EQ(factory.trace.alive, 1);
  EXPECT_EQ(page.calls, (Log{"currentStreamName=", "isOMB=true", "meetingid=12345678",
                             "currentStreamName=rtmp://127.0.0.1/live/12345678"}));
  EXPECT_EQ(store.written, Log{"VideoStyle=2"});
  EXPECT_TRUE(view.publishing);
}

TEST_F(PublisherDlgLogicTest, FailedStartReportsAndLeavesNothingRunning) {
  Open();
  factory.startSucceeds = false;
  page.calls.clear();
  logic.OnStartClass();
  EXPECT_EQ(view.messages, Log{"连接服务器失败"});
  EXPECT_FALSE(view.publishing);
  EXPECT_TRUE(page.calls.empty());
  EXPECT_TRUE(logic.HasSession());
  // A picture-type change afterwards does not start a class the teacher did not ask for.
  factory.trace.events.clear();
  view.pictureType = 1;
  logic.OnVideoStyleChange();
  EXPECT_TRUE(factory.trace.events.empty());
  EXPECT_EQ(factory.made, 1);
}

TEST_F(PublisherDlgLogicTest, UnusableSettingsAreNamedAndStartNoSession) {
  Open();
  store.stored.FrameRate = 0;
  page.calls.clear();
  logic.OnStartClass();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("FrameRate"), std::string::npos) << view.messages[0];
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(factory.made, 0);
  EXPECT_TRUE(page.calls.empty());
}

TEST_F(PublisherDlgLogicTest, FailedRestartAfterPictureTypeChangeEndsIdle) {
  Open();
  logic.OnStartClass();
  factory.startSucceeds = false;
  page.calls.clear();
  view.pictureType = 1;
  logic.OnVideoStyleChange();
  EXPECT_EQ(page.calls, Log{"currentStreamName="});
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(view.messages, Log{"连接服务器失败"});
}

TEST_F(PublisherDlgLogicTest, ClosingDuringAClassStopsItBeforeTheSettingsGo) {
  Open();
  logic.OnStartClass();
  page.calls.clear();
  logic.OnClose();
  EXPECT_EQ(view.messages, Log{"直播结束!"});
  logic.OnDestroy();
  EXPECT_EQ(factory.trace.events,
            (Log{"create 1", "start 1 style 0 preview 4242", "stop 1", "destroy 1"}));
  EXPECT_EQ(logic.Settings(), nullptr);
  EXPECT_TRUE(page.calls.empty());
  logic.OnDestroy();  // harmless twice (the destructor runs it again)
  EXPECT_EQ(factory.trace.alive, 0);
}

TEST_F(PublisherDlgLogicTest, AboutEntryIgnoresTheLowFourBits) {
  EXPECT_TRUE(logic.OnSysCommand(0x10));
  EXPECT_TRUE(logic.OnSysCommand(0x1F));
  EXPECT_FALSE(logic.OnSysCommand(0x20));
  EXPECT_FALSE(logic.OnSysCommand(0xF060));  // close
  EXPECT_EQ(view.aboutBoxes, 2);
}

TEST(PreTranslateMessageTest, DiscardsRightButtonEnterAndEscapeOnly) {
  using K = InputMessage::Kind;
  using B = InputMessage::Button;
  EXPECT_TRUE(PublisherDlgLogic::PreTranslateMessage({K::kMouseButtonPress, B::kRight, 0}));
  EXPECT_TRUE(PublisherDlgLogic::PreTranslateMessage({K::kMouseDoubleClick, B::kRight, 0}));
  EXPECT_TRUE(PublisherDlgLogic::PreTranslateMessage({K::kContextMenu, B::kNone, 0}));
  EXPECT_TRUE(PublisherDlgLogic::PreTranslateMessage({K::kKeyPress, B::kNone, 13}));
  EXPECT_TRUE(PublisherDlgLogic::PreTranslateMessage({K::kKeyPress, B::kNone, 27}));
  EXPECT_FALSE(PublisherDlgLogic::PreTranslateMessage({K::kMouseButtonPress, B::kLeft, 0}));
  EXPECT_FALSE(PublisherDlgLogic::PreTranslateMessage({K::kKeyPress, B::kNone, 'A'}));
  EXPECT_FALSE(PublisherDlgLogic::PreTranslateMessage({K::kKeyPress, B::kNone, 9}));
  EXPECT_FALSE(PublisherDlgLogic::PreTranslateMessage({K::kOther, B::kNone, 13}));
}

}  // namespace
}  // namespace quillon
