#include "capture/capture_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/testing/shipped_settings.h"
#include "base/testing/wait_for.h"
#include "capture/testing/fake_encoder.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Bgr = std::array<uint8_t, 3>;

const Bgr kDesktop{10, 20, 30};
const Bgr kCamera{0x40, 0x40, 0x40};
const Bgr kRed{0, 0, 255};
const Bgr kBlack{0, 0, 0};

// Calls work every millisecond on a thread other than the caller's from Start until Stop: how
// the fake camera and sound device deliver.
class Feeder final : public FrameTimer {
 public:
  ~Feeder() override { StopAndWait(); }
  void Start(std::function<void()> work) {
    work_ = std::move(work);
    FrameTimer::Start(1, false);
  }
  void Stop() { StopAndWait(); }
  void OnTick() override { work_(); }

 private:
  std::function<void()> work_;
};

// A desktop of one colour, with the pointer at (x, y); Prepare answers problem, after which the
// desktop has the size of its own.
struct FakeScreen final : ScreenGrabber {
  ScreenProblem Prepare() override {
    prepared = true;
    return problem;
  }
  std::optional<std::pair<int32_t, int32_t>> PreparedSize() const override {
    return prepared ? size : std::nullopt;
  }
  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override {
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
      std::copy(kDesktop.begin(), kDesktop.end(), buffer + i * 3);
  }
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override {
    return DrawMarkerAt(buffer, width, height, x, y);
  }

  int32_t x = 100, y = 100;
  ScreenProblem problem = ScreenProblem::kNone;
  std::optional<std::pair<int32_t, int32_t>> size;
  bool prepared = false;
};

using Note = std::function<void(const std::string&)>;

// A camera that tells note what it is asked to do; with deliverFrames it sends frames of the
// colour kCamera from Open until Stop.
struct FakeCamera final : CCaptureVideo {
  FakeCamera(bool deliver, Note n) : deliverFrames(deliver), note(std::move(n)) {}
  int Open(int32_t device, PreviewWindow preview, int32_t width, int32_t height,
           int32_t frameRate) override {
    note("camera " + std::to_string(device) + " in window " + std::to_string(preview) + " at " +
         std::to_string(width) + "x" + std::to_string(height) + ", " + std::to_string(frameRate) +
         "/s");
    const std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3, kCamera[0]);
    if (deliverFrames) {
      feeder.Start([this, frame] {
        if (VideoFrameSink* s = sink.load())
          s->OnVideoFrame(0.0, frame.data(), static_cast<int32_t>(frame.size()));
      });
    }
    return openResult;
  }
  void Stop() override {
    note("camera stop");
    feeder.Stop();
  }
  void SetFrameSink(bool enabled, VideoFrameSink* s) override { sink = enabled ? s : nullptr; }

  std::atomic<VideoFrameSink*> sink{nullptr};
  int openResult = 0;
  const bool deliverFrames;
  const Note note;
  Feeder feeder;
};

// Sound capture that tells note what it is asked to do, and hands chunks of ChunkBytes, every
// sample 0x9234 (little-endian: -28108), from its own thread while recording.
struct FakeSound final : CCaptureAudio {
  FakeSound(bool opens, Note n) : openResult(opens), note(std::move(n)) {}
  bool Open(const AudioDeviceId* device) override {
    note("sound " + (device != nullptr ? device->Name : "none") + " at " +
         std::to_string(SamplesPerSec) + "/" + std::to_string(BitsPerSample) + "/" +
         std::to_string(Chanels));
    return openResult;
  }
  int SetRecording(bool on, AudioDataSink* sink) override {
    note(on ? "sound record " + std::to_string(ChunkBytes) : "sound stop");
    feeder.Stop();
    if (!on) return 0;
    std::vector<uint8_t> chunk(ChunkBytes);
    for (size_t at = 0; at + 1 < chunk.size(); at += 2) chunk[at] = 0x34, chunk[at + 1] = 0x92;
    feeder.Start(
        [sink, chunk] { sink->OnAudioData(chunk.data(), static_cast<int32_t>(chunk.size())); });
    return 0;
  }
  void Close() override { note("sound close"); }

  const bool openResult;
  const Note note;
  Feeder feeder;
};

// After the encoder's Stop only pictures and sound already on their way may still arrive (the
// camera and the sound are stopped after the encoder), and the destructor's second Stop.
void ExpectOnlyLateDataAfterTheFirstStop(const std::vector<std::string>& names) {
  auto stop = std::find(names.begin(), names.end(), "Stop");
  ASSERT_NE(stop, names.end());
  for (auto it = stop; it != names.end(); ++it) {
    EXPECT_TRUE(*it == "Stop" || *it == "PutVideoData" || *it == "PutAudioData") << *it;
  }
}

Bgr At(const std::vector<uint8_t>& picture, int width, int x, int row) {
  size_t offset = (static_cast<size_t>(row) * width + x) * 3;
  return {picture.at(offset), picture.at(offset + 1), picture.at(offset + 2)};
}

int RedPixels(const std::vector<uint8_t>& picture) {
  int red = 0;
  for (size_t i = 0; i + 2 < picture.size(); i += 3) {
    red += Bgr{picture[i], picture[i + 1], picture[i + 2]} == kRed;
  }
  return red;
}

class CaptureSessionTest : public ::testing::Test {
 protected:
  // The settings every test starts from; each changes what its case is about.
  PublisherSettings ClassSettings() {
    PublisherSettings s = ShippedSettings();
    s.DeviceID = 2;
    s.FrameRate = 30;
    s.Quality = 3;
    s.Record = 1;
    s.HaveAudio = 0;
    s.PublishUrl = "rtmp://127.0.0.1/live/class";
    s.AudioDevice = &microphone;
    return s;
  }

  // Pictures small enough to be ready in no time, even under the sanitizers.
  void UseSmallPictures() {
    settings.ScreenWidth = 320;
    settings.ScreenHeight = 240;
    settings.VideoWidth = 160;
    settings.VideoHeight = 120;
  }

  // Builds a session with fakes; the fakes stay reachable through the raw pointers.
  std::unique_ptr<CaptureSession> MakeSession(bool withLibrary = true) {
    CaptureParts parts;
    if (withLibrary) parts.Encoder = NotingLibrary();
    auto note = [this](const std::string& what) { events.push_back(what + When()); };
    parts.Camera = std::make_unique<FakeCamera>(deliverFrames, note);
    parts.Sound = std::make_unique<FakeSound>(soundOpens, note);
    parts.Screen = std::make_unique<FakeScreen>(screen);
    camera = static_cast<FakeCamera*>(parts.Camera.get());
    auto made = std::make_unique<CaptureSession>(settings, std::move(parts));
    session = made.get();
    return made;
  }

  // The fake library, whose Stop also goes into the events.
  std::shared_ptr<const EncoderLibrary> NotingLibrary() {
    static EncoderFunctions real;  // the library's interface takes plain functions
    static CaptureSessionTest* test;
    real = fake.Library()->Functions();
    test = this;
    EncoderFunctions noting = real;
    noting.Stop = [](void* handle) {
      test->events.push_back("encoder stop" + test->When());
      return real.Stop(handle);
    };
    return std::make_shared<EncoderLibrary>(noting, std::shared_ptr<void>(fake.Library(), nullptr));
  }

  // The state of the timer and the encoder when a fake is called.
  std::string When() {
    return std::string(session->TimerId() != 0 ? ", timer on" : "") + ", encoder stopped " +
           std::to_string(fake.Count("Stop")) + "x";
  }

  // Runs a class until the encoder has taken two more pictures after prepare ran, then ends it
  // and returns the last picture.
  std::vector<uint8_t> PublishedPicture(const std::function<void(CaptureSession&)>& prepare) {
    auto running = MakeSession();
    EXPECT_TRUE(running->Start(0));
    prepare(*running);
    int before = fake.Count("PutVideoData");
    EXPECT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= before + 2; }));
    running.reset();
    return fake.LastPicture();
  }

  void DeliverCameraFrame(CaptureSession& s) {
    std::vector<uint8_t> frame(static_cast<size_t>(settings.VideoWidth) * settings.VideoHeight * 3,
                               kCamera[0]);
    s.OnVideoFrame(0.0, frame.data(), static_cast<int32_t>(frame.size()));
  }

  testing::FakeEncoder fake;
  const AudioDeviceId microphone{{}, "mic"};
  PublisherSettings settings = ClassSettings();
  bool deliverFrames = false;
  bool soundOpens = true;
  FakeScreen screen;                // what each session's screen starts as
  std::vector<std::string> events;  // what the fakes were asked to do, in order
  CaptureSession* session = nullptr;
  FakeCamera* camera = nullptr;
};

TEST_F(CaptureSessionTest, StartAndStopOrderAndSizesForEveryPictureTypeWithAndWithoutSound) {
  for (int style = 0; style <= 4; ++style) {
    // Without sound, with it, with a sound device that does not open, and with a sound format
    // the encoder cannot take (the device is then not even opened): a class without sound.
    for (int sound = 0; sound <= 3; ++sound) {
      SCOPED_TRACE("VideoStyle " + std::to_string(style) + " sound " + std::to_string(sound));
      const bool haveAudio = sound == 1;
      fake.Reset(1, 2048);
      events.clear();
      settings.VideoStyle = style;
      settings.HaveAudio = sound != 0;
      settings.BitsPerSample = sound == 3 ? 24 : 16;
      soundOpens = sound != 2;
      deliverFrames = style == 1;
      auto running = MakeSession();
      const bool cameraFails = style == 1 && sound == 2;
      camera->openResult = cameraFails ? 1 : 0;
      EXPECT_FALSE(running->IsRunning());
      ASSERT_TRUE(running->Start(77));
      EXPECT_TRUE(running->IsRunning());
      const bool pictures = style <= 3;
      const bool timer = style == 0 || style == 2 || style == 3;
      const bool cameraUsed = style >= 1 && style <= 3;
      EXPECT_EQ(running->TimerId() != 0, timer);
      EXPECT_EQ(camera->sink.load(), cameraUsed ? running.get() : nullptr);
      ASSERT_TRUE(WaitFor([&] {
        return (!pictures || fake.Count("PutVideoData") >= 2) &&
               (!haveAudio || fake.Count("PutAudioData") >= 2);
      }));
      if (!pictures) std::this_thread::sleep_for(50ms);
      // The status reading: no statistics from this library, a picture unless the picture type
      // has none or the camera alone did not open, and the loudest sample of the sound.
      const ClassReading reading = running->Read();
      EXPECT_TRUE(reading.running);
      EXPECT_FALSE(reading.stats.has_value());
      EXPECT_EQ(reading.publishesPicture, pictures && !cameraFails);
      EXPECT_EQ(std::tuple(reading.soundWanted, reading.soundOpen, reading.soundPeak),
                std::tuple(sound != 0, haveAudio, haveAudio ? 28108 : 0));
      running->Stop();
      EXPECT_FALSE(running->IsRunning());
      EXPECT_EQ(running->TimerId(), 0u);
      // Started after the encoder and the timer: the camera, then the sound. Stopped in the
      // order timer, encoder, camera, sound.
      const std::string started = std::string(timer ? ", timer on" : "") + ", encoder stopped 0x";
      std::vector<std::string> expected;
      if (cameraUsed) expected.push_back("camera 2 in window 77 at 640x480, 30/s" + started);
      if (sound == 1 || sound == 2) expected.push_back("sound mic at 44100/16/2" + started);
      if (haveAudio) expected.push_back("sound record 2048" + started);  // the notify size
      expected.push_back("encoder stop, encoder stopped 0x");
      for (const char* stop : {"camera stop", "sound stop", "sound close"})
        expected.push_back(stop + std::string(", encoder stopped 1x"));
      EXPECT_EQ(events, expected);
      running.reset();

      std::vector<std::string> names = fake.Names();
      ASSERT_GE(names.size(), 3u);
      EXPECT_EQ(names[0], "CreateEncoder");
      EXPECT_EQ(names[1], "Start");
      EXPECT_EQ(fake.Count("GetAudioNofifySize"), haveAudio);
      // The notify size is asked before any sound is handed over; a camera picture may come
      // first, as the camera starts before the sound.
      std::vector<std::string> withoutPictures;
      std::copy_if(names.begin(), names.end(), std::back_inserter(withoutPictures),
                   [](const std::string& name) { return name != "PutVideoData"; });
      EXPECT_EQ(withoutPictures.at(2) == "GetAudioNofifySize", haveAudio);
      ExpectOnlyLateDataAfterTheFirstStop(names);
      EXPECT_EQ(fake.Count("Stop"), 2);  // Stop, then the destructor's
      EXPECT_EQ(fake.Count("PutVideoData") > 0, pictures);
      EXPECT_EQ(fake.Count("PutAudioData") > 0, haveAudio);

      EncoderParams p{};
      ASSERT_TRUE(fake.Params(&p));
      const bool desktopLarge = style == 0 || style == 2;
      EXPECT_EQ(
          std::tuple(p.Width, p.Height, p.FormatCode, p.FrameRate, p.Interval, p.Quality, p.Bitrate,
                     p.SamplesPerSec, p.BitsPerSample, p.Chanels, p.Record, std::string(p.Url)),
          std::tuple(desktopLarge ? 1280 : 640, desktopLarge ? 720 : 480, 4103, 30, 2, 3, 500,
                     44100, settings.BitsPerSample, 2, 1, settings.PublishUrl));

      const std::vector<FakeVerbenaCall> calls = fake.Calls();
      for (const FakeVerbenaCall& call : calls) {
        const std::string function = call.Function;
        if (function == "PutVideoData" || function == "PutAudioData") {
          EXPECT_EQ(call.Length, function == "PutAudioData" ? 2048 : p.Width * p.Height * 3);
          EXPECT_NE(call.Thread, calls[0].Thread);  // never the caller's thread
        }
        EXPECT_EQ(call.Handle, calls[0].Handle);
      }
    }
  }
}

// A refused start, or no library at all: nothing else starts, and Stop still runs.
TEST_F(CaptureSessionTest, FailedStartStartsNothingAndStopStillRuns) {
  settings.VideoStyle = 2;
  settings.HaveAudio = 1;
  for (bool library : {true, false}) {
    fake.Reset(0);
    events.clear();
    auto running = MakeSession(library);
    EXPECT_FALSE(running->Start(0));
    EXPECT_TRUE(running->IsRunning());  // until Stop
    EXPECT_EQ(running->TimerId(), 0u);
    running->Stop();
    EXPECT_FALSE(running->IsRunning());
    const std::string when = library ? ", encoder stopped 1x" : ", encoder stopped 0x";
    std::vector<std::string> expected = {"camera stop" + when, "sound stop" + when,
                                         "sound close" + when};
    if (library) expected.insert(expected.begin(), "encoder stop, encoder stopped 0x");
    EXPECT_EQ(events, expected);
    running.reset();
    const std::vector<std::string> calls = {"CreateEncoder", "Start", "Stop", "Stop"};
    EXPECT_EQ(fake.Names(), library ? calls : std::vector<std::string>{});
  }
}

// A class of the whole display publishes the desktop the screen readied (the monitor shared on
// Wayland), rounded down as the settings round, whatever size the display gave the settings; a
// size set in config.ini stands.
TEST_F(CaptureSessionTest, AWholeDisplayClassTakesTheSizeOfTheReadiedDesktop) {
  screen.size = std::pair{802, 601};
  for (const bool follows : {true, false}) {
    for (const int style : {0, 2, 3}) {
      fake.Reset();
      settings.VideoStyle = style;
      settings.ScreenFollowsDisplay = follows;
      auto running = MakeSession();
      ASSERT_TRUE(running->Start(0));
      const bool desktopLarge = style != 3;
      const int32_t width = !desktopLarge ? settings.VideoWidth : follows ? 800 : 1280;
      const int32_t height = !desktopLarge ? settings.VideoHeight : follows ? 600 : 720;
      EXPECT_EQ(running->Params().Width, width) << style << follows;
      EXPECT_EQ(running->Params().Height, height) << style << follows;
      ASSERT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= 2; }));
      running.reset();
      const std::vector<uint8_t> picture = fake.LastPicture();
      ASSERT_EQ(picture.size(), static_cast<size_t>(width) * height * 3) << style << follows;
      if (desktopLarge) {  // the desktop's top-right corner, beside any inset
        EXPECT_EQ(At(picture, width, width - 1, height - 1), kDesktop) << style << follows;
      }
    }
  }
}

// A desktop that cannot be shared (a Wayland session's dialog cancelled), or a whole display no
// display gave a size for (Wayland without XWayland) and no shared monitor either, or with a
// ScreenRate that leaves no inset of it: no encoder is made, and the message says which setting
// to make or what to do instead of blaming the server. A camera-only class needs no desktop; a
// shared monitor gives the whole display its size.
TEST_F(CaptureSessionTest, AClassWithoutAUsableDesktopStartsNotAndSaysWhy) {
  settings.ScreenFollowsDisplay = true;
  settings.ScreenWidth = settings.ScreenHeight = 0;
  struct Case {
    int style;
    ScreenProblem problem;
    std::optional<std::pair<int32_t, int32_t>> shared;
    int32_t rate;
    uint32_t failure;
  };
  constexpr auto kShared = ScreenProblem::kNone, kNotShared = ScreenProblem::kNotShared;
  const Case cases[] = {
      {0, kNotShared, std::pair{803, 601}, 4, 102},
      {2, kNotShared, std::nullopt, 4, 102},
      {3, kNotShared, std::nullopt, 4, 102},
      {1, kNotShared, std::nullopt, 4, 0},
      {2, kShared, std::nullopt, 4, 106},
      {2, kShared, std::pair{3, 600}, 4, 106},  // 0 wide
      {3, kShared, std::nullopt, 4, 106},
      {0, kShared, std::nullopt, 4, 106},
      {1, kShared, std::nullopt, 4, 0},
      {2, kShared, std::pair{803, 601}, 600, 0},
      {2, kShared, std::pair{803, 601}, 601, 107},
      {0, kShared, std::pair{803, 601}, 601, 0},
  };  // at ScreenRate 600 the inset is 1 pixel high; at 601 there is none to make
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.style) + "/" + std::to_string(c.rate);
    fake.Reset();
    settings.VideoStyle = c.style;
    settings.ScreenRate = c.rate;
    screen.problem = c.problem;
    screen.size = c.shared;
    auto running = MakeSession();
    EXPECT_EQ(running->Start(0), c.failure == 0) << what;
    EXPECT_EQ(running->StartFailure(), c.failure) << what;
    EXPECT_EQ(fake.Count("CreateEncoder"), c.failure == 0 ? 1 : 0) << what;
    if (c.failure != 0 || c.style == 1) continue;
    EXPECT_EQ(std::pair(running->Params().Width, running->Params().Height), std::pair(800, 600));
    ASSERT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= 1; })) << what;
    running.reset();
    EXPECT_EQ(fake.LastPicture().size(), 800u * 600 * 3) << what;
  }
  for (const auto& [failure, says] : {std::pair{102, "没有共享屏幕"},
                                      {106, "设定 ScreenWidth 和 ScreenHeight"},
                                      {107, "ScreenRate 设小"}}) {
    EXPECT_THAT(ConnectFailedMessage(failure, settings.PublishUrl),
                ::testing::AllOf(::testing::HasSubstr(says),
                                 ::testing::Not(::testing::HasSubstr(kConnectFailed))));
  }
}

// One picture of a picture type: how the settings differ from ClassSettings (1280 x 720 desktop,
// 640 x 480 camera, ScreenRate 4), where the pointer is, whether a camera frame came, whether the
// 15 x 15 marker shows, and colours that must stand at (column, buffer row from the bottom).
struct Composition {
  const char* what;
  void (*change)(PublisherSettings&);
  std::pair<int32_t, int32_t> pointer;
  bool cameraFrame;
  bool marker;
  std::vector<std::tuple<int, int, Bgr>> colours;
};
constexpr bool kFrame = true, kNoFrame = false, kMarker = true, kNoMarker = false;

// clang-format off
const Composition kCompositions[] = {
  {"desktop: the marker right of the pointer (100, 100), on screen lines 85-99",
   [](PublisherSettings& s) { s.VideoStyle = 0; }, {100, 100}, kNoFrame, kMarker,
   {{100, 620, kRed}, {114, 634, kRed}, {0, 0, kDesktop}}},
  {"camera inset in the bottom-left corner, a quarter of each side",
   [](PublisherSettings& s) { s.VideoStyle = 2; }, {0, 0}, kFrame, kNoMarker,
   {{0, 0, kCamera}, {319, 179, kCamera}, {320, 0, kDesktop}, {0, 180, kDesktop},
    {1279, 719, kDesktop}}},
  {"camera inset placed past the edges: pulled back to the top-right corner",
   [](PublisherSettings& s) { s.VideoStyle = 2; s.VideoX = s.VideoY = 2000; },
   {0, 0}, kFrame, kNoMarker,
   {{960, 540, kCamera}, {1279, 719, kCamera}, {959, 540, kDesktop}, {960, 539, kDesktop}}},
  {"camera inset before the first camera frame: black, and the marker on top of it",
   [](PublisherSettings& s) { s.VideoStyle = 2; }, {20, 700}, kNoFrame, kMarker,
   {{100, 100, kBlack}, {319, 179, kBlack}, {20, 20, kRed}, {34, 34, kRed}, {320, 0, kDesktop}}},
  {"ScreenRate 1: the camera covers the desktop",
   [](PublisherSettings& s) { s.VideoStyle = 2; s.ScreenRate = 1; }, {0, 0}, kFrame, kNoMarker,
   {{0, 0, kCamera}, {1279, 719, kCamera}}},
  {"a huge ScreenRate: no inset",
   [](PublisherSettings& s) { s.VideoStyle = 2; s.ScreenRate = 2000; }, {0, 0}, kFrame, kNoMarker,
   {{0, 0, kDesktop}}},
  {"a camera larger than the desktop, placed left of and below it, covers it at ScreenRate 1",
   [](PublisherSettings& s) { s.VideoStyle = 2; s.ScreenRate = 1; s.VideoX = s.VideoY = -50;
                              s.VideoWidth = 1920; s.VideoHeight = 1080; },
   {0, 0}, kFrame, kNoMarker,
   {{0, 0, kCamera}, {1279, 719, kCamera}}},
  {"desktop inset in the camera picture, pulled back to column 480, never with the marker",
   [](PublisherSettings& s) { s.VideoStyle = 3; s.VideoX = 1000; s.VideoY = 10; },
   {300, 300}, kFrame, kNoMarker,
   {{480, 10, kDesktop}, {639, 129, kDesktop}, {479, 10, kCamera}, {480, 9, kCamera},
    {480, 130, kCamera}}},
  {"desktop inset before the first camera frame: on black",
   [](PublisherSettings& s) { s.VideoStyle = 3; s.VideoX = s.VideoY = 2000; },
   {100, 100}, kNoFrame, kNoMarker,
   {{0, 0, kBlack}, {479, 359, kBlack}, {480, 360, kDesktop}, {639, 479, kDesktop}}},
  {"no ScreenRate, a negative place and an unusable desktop size: the camera alone",
   [](PublisherSettings& s) { s.VideoStyle = 3; s.ScreenRate = 0; s.VideoX = s.VideoY = -50;
                              s.ScreenWidth = -4; },
   {100, 100}, kFrame, kNoMarker,
   {{0, 0, kCamera}, {639, 479, kCamera}}},
};
// clang-format on

TEST_F(CaptureSessionTest, EveryPictureTypeComposesItsPicture) {
  for (const Composition& c : kCompositions) {
    SCOPED_TRACE(c.what);
    fake.Reset();
    settings = ClassSettings();
    c.change(settings);
    std::tie(screen.x, screen.y) = c.pointer;
    const std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession& s) {
      if (c.cameraFrame) DeliverCameraFrame(s);
    });
    EncoderParams params{};
    ASSERT_TRUE(fake.Params(&params));
    ASSERT_EQ(picture.size(), static_cast<size_t>(params.Width) * params.Height * 3);
    for (const auto& [x, row, colour] : c.colours) {
      EXPECT_EQ(At(picture, params.Width, x, row), colour) << "at " << x << ", " << row;
    }
    EXPECT_EQ(RedPixels(picture), c.marker ? 15 * 15 : 0);
  }
}

TEST_F(CaptureSessionTest, PaddedCameraRowsAreCopiedWithoutThePaddingAndLateCallsAreHarmless) {
  // 10 pixels make 30-byte rows, which the camera pads to 32.
  settings.VideoWidth = 10;
  settings.VideoHeight = 4;
  settings.VideoStyle = 1;
  std::vector<uint8_t> padded(32 * 4);
  std::vector<uint8_t> expected;
  for (int row = 0; row < 4; ++row) {
    for (int i = 0; i < 32; ++i)
      padded[row * 32 + i] = static_cast<uint8_t>(i < 30 ? row * 40 + i : 0xEE);
    expected.insert(expected.end(), padded.begin() + row * 32, padded.begin() + row * 32 + 30);
  }
  auto running = MakeSession();
  ASSERT_TRUE(running->Start(0));
  running->OnVideoFrame(0.0, padded.data(), 32 * 4);
  running->OnVideoFrame(0.0, padded.data(), 31 * 4);      // neither size: dropped
  running->OnVideoFrame(0.0, padded.data(), 32 * 4 + 1);  // dropped
  // After Stop: pieces without data are dropped, the others go to the library, which ignores them.
  running->Stop();
  running->OnVideoFrame(0.0, padded.data(), 32 * 4);
  running->OnAudioData(padded.data(), 100);
  running->OnVideoFrame(0.0, nullptr, 5);
  running->OnAudioData(nullptr, 5);
  EXPECT_EQ(running->DroppedCameraFrames(), 2u);
  running.reset();
  EXPECT_EQ(fake.Count("PutVideoData"), 2);
  EXPECT_EQ(fake.Count("PutAudioData"), 1);
  EXPECT_EQ(fake.LastPicture(), expected);

  // The same frame in the camera-large picture, with no inset to cover it.
  settings.VideoStyle = 3;
  settings.ScreenRate = 100;
  std::vector<uint8_t> picture =
      PublishedPicture([&](CaptureSession& s) { s.OnVideoFrame(0.0, padded.data(), 32 * 4); });
  EXPECT_EQ(picture, expected);

  settings.FrameRate = 0;  // no timer, rather than a division by zero
  auto unpaced = MakeSession();
  EXPECT_TRUE(unpaced->Start(0));
  EXPECT_EQ(unpaced->TimerId(), 0u);
}

// With the desktop as the large picture, the first picture is taken as the class starts: at one
// picture a second, a timer that waited for its period would deliver it a second after Start.
TEST_F(CaptureSessionTest, ADesktopClassTakesItsFirstPictureWithoutWaitingAPeriod) {
  settings.FrameRate = 1;
  UseSmallPictures();
  for (const int style : {0, 2}) {
    fake.Reset();
    settings.VideoStyle = style;
    auto running = MakeSession();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(running->Start(0));
    ASSERT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << style;
  }
}

TEST_F(CaptureSessionTest, DestructionWhileCallbacksAreStillArriving) {
  settings.HaveAudio = 1;
  settings.FrameRate = 100;
  UseSmallPictures();
  deliverFrames = true;
  for (int style = 1; style <= 3; ++style) {
    settings.VideoStyle = style;
    for (int round = 0; round < 5; ++round) {
      fake.Reset();
      auto running = MakeSession();
      ASSERT_TRUE(running->Start(0));
      ASSERT_TRUE(WaitFor(
          [&] { return fake.Count("PutVideoData") >= 3 && fake.Count("PutAudioData") >= 3; }));
      running.reset();  // without Stop: the destructor ends everything itself
      std::vector<std::string> names = fake.Names();
      ExpectOnlyLateDataAfterTheFirstStop(names);
      std::this_thread::sleep_for(5ms);
      EXPECT_EQ(fake.Names().size(), names.size()) << "a call after the session was gone";
    }
  }
}

// The sanitizers' allocators write their own records over the memory they hand out.
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(ZeroedBufferTest, StartsBlackWithoutWritingItsPages) {
  // A class's picture buffers (desktop, thumbnail, camera) are made at every 上课: making them
  // must not mean writing megabytes of zeros before the first picture.
  constexpr size_t kSize = 64u << 20;
  const size_t before = ResidentBytes();
  ZeroedBuffer buffer(kSize);
  EXPECT_LT(ResidentBytes() - before, kSize / 8);
  for (size_t at : {size_t{0}, kSize / 2, kSize - 1}) EXPECT_EQ(buffer.data()[at], 0) << at;
}
#endif

}  // namespace
}  // namespace quillon
