#include "window/publisher_dlg_logic.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/picture_type.h"
#include "window/testing/window_fakes.h"

namespace quillon {
namespace {

class FakePage : public ClassroomPage {
 public:
  void LoadMovie(int32_t layer, const std::string& path) override {
    calls.push_back("LoadMovie " + std::to_string(layer) + " " + path);
  }
  void Play() override { calls.push_back("Play"); }
  void SetVariable(const std::string& name, const std::string& value) override {
    calls.push_back(name + "=" + value);
  }
  void ShowClassState(const std::string& state) override { states.push_back(state); }
  CallLog calls, states;
};

// The widgets: lists keep their selection the way a drop-down list does.
class FakeView : public PublisherView {
 public:
  void AddAboutMenuEntry(const std::string&) override {}
  void RunAboutBox() override { ++aboutBoxes; }
  void StartSkin(const std::string& file) override { skin = file; }
  void SetTitle(const std::string&) override {}
  void BringToFront() override { ++raised; }
  void ShowMessage(const std::string& text, MessageIcon) override {
    messages.push_back(text);
    if (onMessage) onMessage();
  }
  void ShowClassButtons(bool isPublishing) override { publishing = isPublishing; }
  void ShowStatus(const std::string& line) override { statuses.push_back(line); }
  PreviewWindow PreviewArea() override { return 4242; }
  // At once, on the calling thread (the tests see a finished connection), or held until
  // FinishBackground when holdBackground is set.
  void RunInBackground(std::function<bool()> work, std::function<void(bool)> done) override {
    held = [work = std::move(work), done = std::move(done)] { done(work()); };
    if (!holdBackground) FinishBackground();
  }
  void FinishBackground() override {
    if (held) std::exchange(held, nullptr)();
  }
  std::chrono::milliseconds DoubleClickTime() override { return doubleClick; }
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

  CallLog messages, statuses, cameras, sounds;
  std::function<void()> onMessage, held;
  std::chrono::milliseconds doubleClick{0};
  std::string skin, rate;
  bool holdBackground = false, publishing = true, sendSound = false;
  int aboutBoxes = 0, paused = 0, raised = 0, sound = -1, camera = -1, pictureType = -1;
};

class PublisherDlgLogicTest : public ::testing::Test {
 protected:
  void Open() { ASSERT_TRUE(logic.OnInitDialog()); }

  FakeView view;
  FakePage page;
  FakeStore store;
  FakeSessions factory;
  FakeDevices devices;
  const std::filesystem::path programFolder = std::filesystem::path("program folder") / "bin";
  PublisherDlgLogic logic{view, page, store, factory, devices, programFolder};
};

// The title, the about entry and what the controls show at first are checked through the real
// widgets, with these fakes, by window_qt_test and publisher_dlg_win_test.
TEST_F(PublisherDlgLogicTest, OpeningPreparesThePageBesideTheProgramAndStartsNoClass) {
  Open();
  EXPECT_EQ(view.skin, (programFolder / "face.dll").string());
  EXPECT_EQ(page.calls, (CallLog{"LoadMovie 0 " + (programFolder / "Tindlekit.dll").string(),
                                 "Play", "isOMB=true", "meetingid=12345678"}));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(factory.made, 0);
}

TEST_F(PublisherDlgLogicTest, UnusableAddressClosesTheWindowAfterFinishingInitialisation) {
  store.usable = false;
  EXPECT_FALSE(logic.OnInitDialog());
  ASSERT_GE(page.calls.size(), 2u);
  EXPECT_EQ(page.calls.back(), "meetingid=12345678");
}

TEST_F(PublisherDlgLogicTest, LinksHandedOverWaitForTheClassToEnd) {
  // One that arrives while the window is made replaces the address the program started with.
  logic.OnLaunchRequest("rtmp://h/live/1");
  EXPECT_EQ(view.raised, 0);
  Open();
  EXPECT_EQ(store.taken, CallLog{"rtmp://h/live/1"});
  EXPECT_EQ(page.calls.back(), "meetingid=1");

  // Idle: taken at once; the page and the status line follow, the controls keep their choice.
  view.rate = "900";
  logic.OnLaunchRequest("rtmp://h/live/2");
  EXPECT_EQ(view.raised, 1);
  EXPECT_EQ(page.calls.back(), "meetingid=2");
  EXPECT_EQ(view.statuses.back(), "未上课 · 上课后发布到 h:1935");
  EXPECT_EQ(view.rate, "900");
  EXPECT_TRUE(view.messages.empty());

  // During a class the class goes on and the teacher is told; a change of picture type restarts
  // the class on the old address; the latest link is taken at 下课.
  logic.OnStartClass();
  logic.OnLaunchRequest("rtmp://h/live/3");
  logic.OnLaunchRequest("rtmp://h/live/4");
  EXPECT_EQ(view.messages, (CallLog{kLinkAfterClass, kLinkAfterClass}));
  view.pictureType = 0;
  logic.OnVideoStyleChange();
  EXPECT_EQ(page.calls.back(), "currentStreamName=rtmp://h/live/2");
  EXPECT_EQ(store.taken.size(), 2u);
  logic.OnEndClass();
  EXPECT_EQ(store.taken.back(), "rtmp://h/live/4");
  EXPECT_EQ(page.calls.back(), "meetingid=4");

  // One that arrives while a class connects is taken when the connection fails; one the store
  // refuses changes nothing.
  factory.startSucceeds = false;
  view.holdBackground = true;
  logic.OnStartClass();
  logic.OnLaunchRequest("rtmp://h/live/5");
  view.FinishBackground();
  EXPECT_EQ(page.calls.back(), "meetingid=5");
  logic.OnLaunchRequest("refused");
  EXPECT_EQ(page.calls.back(), "meetingid=5");
}

TEST_F(PublisherDlgLogicTest, StartTellsThePageInOrderAndEndClearsTheStream) {
  Open();
  page.calls.clear();
  view.sendSound = false;  // one change: only that key is saved, before the settings are re-read
  logic.OnStartClass();
  EXPECT_EQ(store.written, CallLog{"HaveAudio=0"});
  EXPECT_EQ(page.calls, (CallLog{"isOMB=true", "meetingid=12345678",
                                 "currentStreamName=rtmp://127.0.0.1/live/12345678"}));
  EXPECT_TRUE(view.publishing);
  EXPECT_EQ(view.paused, 100);
  EXPECT_EQ(factory.events, (CallLog{"create 1", "connect 1 style 2", "capture 1 preview 4242"}));

  page.calls.clear();
  logic.OnEndClass();
  EXPECT_EQ(page.calls, CallLog{"currentStreamName="});
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(factory.LastEvent(), "stop 1");

  // The sound choice becomes the audio device; the system default carries no identifier: a class
  // without sound; so does no selection.
  for (int choice : {0, -1, 2}) {
    view.sound = choice;
    logic.OnStartClass();
    logic.OnEndClass();
  }
  EXPECT_EQ(factory.audioDevices, (std::vector<const AudioDeviceId*>{
                                      &devices.mic, nullptr, NoAudioSelection(), &devices.line}));
}

TEST_F(PublisherDlgLogicTest, StatusLineFollowsTheClassAndARefusalIsToldOnce) {
  const std::string idle = "未上课 · 上课后发布到 127.0.0.1:1935";
  Open();
  EXPECT_EQ(view.statuses, CallLog{idle});
  factory.startSucceeds = false;  // connecting, then idle again, then the message and why
  factory.startFailure = 2;
  logic.OnStartClass();
  EXPECT_EQ(view.statuses, (CallLog{idle, "正在连接 127.0.0.1:1935…", idle}));
  const std::string failed = std::string(kConnectFailed) +
                             "\n127.0.0.1:1935 没有接受连接（服务器没有运行，或端口不对）："
                             "rtmp://127.0.0.1/live/12345678";
  EXPECT_EQ(view.messages, CallLog{failed});

  factory.startSucceeds = true;
  view.statuses.clear();
  logic.OnStartClass();
  EXPECT_EQ(view.statuses, (CallLog{"正在连接 127.0.0.1:1935…", "正在直播 00:00"}));
  factory.reading.stats = VerbenaStats{};
  factory.reading.stats->GaveUp = 1;
  logic.OnStatusTick();
  logic.OnStatusTick();
  const std::string refused = "服务器拒绝了直播（这个课堂可能已有人在直播），请下课后再试";
  EXPECT_EQ(view.statuses.back(), refused);
  EXPECT_EQ(view.messages, (CallLog{failed, refused}));  // once
  logic.OnEndClass();
  EXPECT_EQ(view.statuses.back(), idle);
  // The page hears each change of state once.
  EXPECT_EQ(page.states,
            (CallLog{"idle", "connecting", "idle", "connecting", "live", "refused", "idle"}));
}

// Input while the class connects, and the second click of a double-click, never end the class
// that 上课 started; a picture-type change meanwhile restarts it once it is connected.
TEST_F(PublisherDlgLogicTest, InputDuringTheConnectionOrADoubleClickKeepsTheClass) {
  Open();
  view.holdBackground = true;
  logic.OnStartClass();
  EXPECT_EQ(view.statuses.back(), "正在连接 127.0.0.1:1935…");
  logic.OnEndClass();
  logic.OnStartClass();
  logic.OnStatusTick();
  EXPECT_EQ(view.statuses.back(), "正在连接 127.0.0.1:1935…");
  view.pictureType = 1;
  logic.OnVideoStyleChange();
  EXPECT_EQ(factory.events, CallLog{"create 1"});  // nothing but the one connection meanwhile
  view.FinishBackground();  // connected: captured, then restarted with the new picture type
  view.FinishBackground();
  EXPECT_EQ(factory.events,
            (CallLog{"create 1", "connect 1 style 2", "capture 1 preview 4242", "stop 1",
                     "destroy 1", "create 2", "connect 2 style 1", "capture 2 preview 4242"}));
  view.doubleClick = std::chrono::hours(1);
  logic.OnEndClass();
  EXPECT_EQ(factory.LastEvent(), "capture 2 preview 4242");
  view.doubleClick = {};
  logic.OnEndClass();
  EXPECT_EQ(factory.LastEvent(), "stop 2");

  // Closed while connecting: the connection is called off (a sharing dialog would otherwise hold
  // the window), waited for and stopped; no capture starts.
  view.messages.clear();
  logic.OnStartClass();
  logic.OnClose();
  EXPECT_EQ(std::vector<std::string>(factory.events.end() - 3, factory.events.end()),
            (CallLog{"cancel 3", "connect 3 style 1", "stop 3"}));
  EXPECT_EQ(view.messages, CallLog{"直播结束!"});  // classes ran before
}

TEST_F(PublisherDlgLogicTest, ChoicesOutsideTheirListsAreNone) {
  devices.sounds = {{"Default", nullptr}};  // no second sound entry
  store.stored.DeviceID = 7;
  Open();
  EXPECT_EQ(view.sound, -1);
  EXPECT_EQ(view.camera, -1);
  logic.OnStartClass();
  EXPECT_EQ(factory.audioDevices, std::vector<const AudioDeviceId*>{NoAudioSelection()});
  EXPECT_EQ(store.written, CallLog{"DeviceID=-1"});
  EXPECT_EQ(store.stored.DeviceID, -1);
}

TEST_F(PublisherDlgLogicTest, UnusableSettingsAreNamedAndABadRateIsPromptedFor) {
  Open();
  store.stored.FrameRate = 0;
  page.calls.clear();
  logic.OnStartClass();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("FrameRate"), std::string::npos) << view.messages[0];
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(factory.made, 0);
  EXPECT_TRUE(page.calls.empty());

  // A typed rate the encoder cannot use names the box and is not saved.
  store.stored.FrameRate = 15;
  view.messages.clear();
  view.rate = " 0 ";
  logic.OnStartClass();
  EXPECT_EQ(view.messages, CallLog{"速率设定 0 无效, 需要 1 或更大 (单位 kb)"});
  EXPECT_TRUE(store.written.empty());
  EXPECT_EQ(factory.made, 0);
  EXPECT_FALSE(view.publishing);

  view.messages.clear();
  view.sendSound = false;
  view.rate = "80kb";
  view.pictureType = 3;
  logic.OnStartClass();
  EXPECT_EQ(view.messages, CallLog{"请输入一个整数。"});
  // Read up to the rate box; the rate and the picture type keep their previous values.
  EXPECT_EQ(store.written, CallLog{"HaveAudio=0"});
  EXPECT_EQ(factory.events, (CallLog{"create 1", "connect 1 style 2", "capture 1 preview 4242"}));
  // The controls are written back from the values after a successful start.
  EXPECT_EQ(view.rate, "500");
}

// Sound the encoder cannot take: the class starts without it, and the teacher hears why once.
TEST_F(PublisherDlgLogicTest, UnusableSoundFormatStartsTheClassAndIsToldOnce) {
  store.stored.BitsPerSample = 12;
  Open();
  for (int start = 1; start <= 2; ++start) {
    logic.OnStartClass();
    EXPECT_EQ(factory.made, start);
    EXPECT_TRUE(view.publishing);
    logic.OnEndClass();
  }
  EXPECT_EQ(view.messages, CallLog{"config.ini 中 BitsPerSample=12 不能用于声音, 需要 8 或 16。"
                                   "这节课不发送声音。"});
  view.sendSound = false;  // without sound nothing is said
  store.stored.BitsPerSample = 24;
  logic.OnStartClass();
  EXPECT_EQ(view.messages.size(), 1u);
}

TEST(ParseWholeNumberTest, AcceptsWhatADialogRateBoxAccepts) {
  std::vector<int32_t> values;
  for (const char* text :
       {"800", "  42", "12 ", "\t9\t", "-5", "+7", "2147483647", "-2147483648"}) {
    int32_t value = 0;
    EXPECT_TRUE(ParseWholeNumber(text, value)) << text;
    values.push_back(value);
  }
  EXPECT_EQ(values, (std::vector<int32_t>{800, 42, 12, 9, -5, 7, 2147483647, -2147483647 - 1}));
  int32_t value = 0;
  for (const char* text : {"", " ", "-", " - ", "1 2", "1.5", "abc", "2147483648", "-2147483649",
                           "99999999999999999999999"}) {
    EXPECT_FALSE(ParseWholeNumber(text, value)) << text;
  }
}

TEST_F(PublisherDlgLogicTest, PictureTypeChangeRestartsOnlyAClassThatRuns) {
  Open();
  view.pictureType = 2;  // the stored one: nothing
  logic.OnVideoStyleChange();
  view.pictureType = 3;  // while idle: waits for the next start
  logic.OnVideoStyleChange();
  EXPECT_TRUE(factory.events.empty());
  EXPECT_TRUE(store.written.empty());
  logic.OnStartClass();
  EXPECT_EQ(store.written, CallLog{"VideoStyle=3"});

  page.calls.clear();
  view.pictureType = 1;
  logic.OnVideoStyleChange();
  // The old session is stopped and gone before the new one exists; one session at a time.
  EXPECT_EQ(factory.events,
            (CallLog{"create 1", "connect 1 style 3", "capture 1 preview 4242", "stop 1",
                     "destroy 1", "create 2", "connect 2 style 1", "capture 2 preview 4242"}));
  EXPECT_EQ(factory.alive, 1);
  EXPECT_EQ(page.calls, (CallLog{"currentStreamName=", "isOMB=true", "meetingid=12345678",
                                 "currentStreamName=rtmp://127.0.0.1/live/12345678"}));
  EXPECT_EQ(store.written, (CallLog{"VideoStyle=3", "VideoStyle=1"}));
  EXPECT_TRUE(view.publishing);

  factory.startSucceeds = false;
  page.calls.clear();
  view.pictureType = 0;
  logic.OnVideoStyleChange();  // the restart cannot connect
  EXPECT_EQ(view.messages, CallLog{"连接服务器失败"});
  EXPECT_FALSE(view.publishing);
  EXPECT_EQ(page.calls, CallLog{"currentStreamName="});
  // A picture-type change afterwards does not start a class the teacher did not ask for.
  view.pictureType = 3;
  logic.OnVideoStyleChange();
  EXPECT_EQ(factory.made, 3);
  EXPECT_EQ(factory.LastEvent(), "stop 3");
}

TEST_F(PublisherDlgLogicTest, ClosingDuringAClassStopsItBeforeTheBoxAndTheSettingsGo) {
  Open();
  logic.OnClose();  // no class yet: nothing to call over
  EXPECT_TRUE(view.messages.empty());
  logic.OnStartClass();
  page.calls.clear();
  std::string lastEventAtTheBox;
  view.onMessage = [&] { lastEventAtTheBox = factory.LastEvent(); };
  logic.OnClose();
  EXPECT_EQ(view.messages, CallLog{"直播结束!"});
  EXPECT_EQ(lastEventAtTheBox, "stop 1");
  logic.OnDestroy();
  EXPECT_EQ(factory.events, (CallLog{"create 1", "connect 1 style 2", "capture 1 preview 4242",
                                     "stop 1", "destroy 1"}));
  EXPECT_EQ(factory.stoppedStyle, 2);  // read from the record before it went
  EXPECT_EQ(logic.Settings(), nullptr);
  EXPECT_EQ(page.calls, CallLog{"currentStreamName="});
  logic.OnDestroy();  // harmless twice (the destructor runs it again)
  EXPECT_EQ(factory.alive, 0);
}

TEST_F(PublisherDlgLogicTest, AboutEntryIgnoresTheLowFourBits) {
  for (int command : {0x10, 0x1F, 0x20, 0xF060 /* close */})
    EXPECT_EQ(logic.OnSysCommand(command), command < 0x20) << command;
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
