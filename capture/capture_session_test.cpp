#include "capture/capture_session.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/testing/wait_for.h"
#include "capture/testing/fake_encoder.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Bgr = std::array<uint8_t, 3>;

// A desktop of one colour, and a pointer wherever the test puts it.
class FakeScreen final : public ScreenGrabber {
 public:
  explicit FakeScreen(Bgr colour) : colour_(colour) {}
  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override {
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
      std::copy(colour_.begin(), colour_.end(), buffer + i * 3);
    }
  }
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override {
    return DrawMarkerAt(buffer, width, height, pointerX, pointerY);
  }
  std::atomic<int32_t> pointerX{100};
  std::atomic<int32_t> pointerY{100};

 private:
  Bgr colour_;
};

// A camera that records how it is driven; with deliverFrames it sends frames of frameBytes from
// its own thread from Open until Stop.
class FakeCamera final : public CCaptureVideo {
 public:
  ~FakeCamera() override { Stop(); }
  int Open(int32_t deviceIndex, PreviewWindow preview, int32_t width, int32_t height,
           int32_t frameRate) override {
    ++opens;
    openArgs = {deviceIndex, static_cast<int32_t>(preview), width, height, frameRate};
    if (deliverFrames) {
      delivering = true;
      thread_ = std::thread([this] {
        std::vector<uint8_t> frame(frameBytes, 0x40);
        while (delivering) {
          if (VideoFrameSink* s = sink.load()) s->OnVideoFrame(0.0, frame.data(), frameBytes);
          std::this_thread::sleep_for(1ms);
        }
      });
    }
    return 0;
  }
  void Stop() override {
    ++stops;
    delivering = false;
    if (thread_.joinable()) thread_.join();
  }
  void SetFrameSink(bool enabled, VideoFrameSink* s) override { sink = enabled ? s : nullptr; }

  bool deliverFrames = false;
  int32_t frameBytes = 0;
  int opens = 0;
  std::atomic<int> stops{0};
  std::array<int32_t, 5> openArgs{};
  std::atomic<VideoFrameSink*> sink{nullptr};

 private:
  std::atomic<bool> delivering{false};
  std::thread thread_;
};

// Sound capture that hands chunks of ChunkBytes from its own thread while recording.
class FakeSound final : public CCaptureAudio {
 public:
  ~FakeSound() override { SetRecording(false, nullptr); }
  bool Open(const AudioDeviceId* device) override {
    ++opens;
    openedWith = device;
    return openResult;
  }
  int SetRecording(bool on, AudioDataSink* sink) override {
    if (on) {
      recording = true;
      thread_ = std::thread([this, sink] {
        std::vector<uint8_t> chunk(ChunkBytes, 0x11);
        while (recording) {
          sink->OnAudioData(chunk.data(), static_cast<int32_t>(chunk.size()));
          std::this_thread::sleep_for(1ms);
        }
      });
    } else {
      recording = false;
      if (thread_.joinable()) thread_.join();
    }
    return 0;
  }
  void Close() override { ++closes; }

  bool openResult = true;
  int opens = 0;
  int closes = 0;
  const AudioDeviceId* openedWith = nullptr;

 private:
  std::atomic<bool> recording{false};
  std::thread thread_;
};

const Bgr kDesktop{10, 20, 30};
const Bgr kCamera{0x40, 0x40, 0x40};
const Bgr kRed{0, 0, 255};
const Bgr kBlack{0, 0, 0};

// After the encoder's Stop only pictures and sound already on their way may still arrive (the
// camera and the sound are stopped after the encoder), and the destructor's second Stop.
void ExpectOnlyLateDataAfterTheFirstStop(const std::vector<std::string>& names) {
  auto stop = std::find(names.begin(), names.end(), "Stop");
  ASSERT_NE(stop, names.end());
  for (auto it = stop; it != names.end(); ++it) {
    EXPECT_TRUE(*it == "Stop" || *it == "PutVideoData" || *it == "PutAudioData") << *it;
  }
}

class CaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.DeviceID = 2;
    settings.VideoStyle = 0;
    settings.ScreenWidth = 1280;
    settings.ScreenHeight = 720;
    settings.VideoWidth = 640;
    settings.VideoHeight = 480;
    settings.ScreenRate = 4;
    settings.FrameRate = 30;
    settings.Bitrate = 500;
    settings.Interval = 2;
    settings.Quality = 3;
    settings.Record = 1;
    settings.SamplesPerSec = 44100;
    settings.BitsPerSample = 16;
    settings.Chanels = 2;
    settings.PublishUrl = "rtmp://127.0.0.1/live/class";
    settings.AudioDevice = &device;
  }

  // Builds a session with fakes; the fakes stay reachable through the raw pointers.
  std::unique_ptr<CaptureSession> MakeSession(bool withLibrary = true) {
    CaptureParts parts;
    if (withLibrary) parts.Encoder = fake.Library();
    auto cameraObject = std::make_unique<FakeCamera>();
    auto soundObject = std::make_unique<FakeSound>();
    auto screenObject = std::make_unique<FakeScreen>(kDesktop);
    camera = cameraObject.get();
    sound = soundObject.get();
    screen = screenObject.get();
    camera->deliverFrames = deliverFrames;
    camera->frameBytes = settings.VideoWidth * settings.VideoHeight * 3;
    sound->openResult = soundOpens;
    parts.Camera = std::move(cameraObject);
    parts.Sound = std::move(soundObject);
    parts.Screen = std::move(screenObject);
    return std::make_unique<CaptureSession>(settings, std::move(parts));
  }

  // Runs a class until the encoder has taken `pictures` more pictures after `prepare` ran, then
  // ends it and returns the last picture.
  std::vector<uint8_t> PublishedPicture(const std::function<void(CaptureSession&)>& prepare,
                                        int pictures = 2) {
    auto session = MakeSession();
    EXPECT_TRUE(session->Start(0));
    prepare(*session);
    int before = fake.Count("PutVideoData");
    EXPECT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= before + pictures; }));
    session.reset();
    return fake.LastPicture();
  }

  void DeliverCameraFrame(CaptureSession& session, Bgr colour) {
    std::vector<uint8_t> frame(static_cast<size_t>(settings.VideoWidth) * settings.VideoHeight * 3);
    for (size_t i = 0; i < frame.size(); i += 3) std::copy(colour.begin(), colour.end(), &frame[i]);
    session.OnVideoFrame(0.0, frame.data(), static_cast<int32_t>(frame.size()));
  }

  static Bgr At(const std::vector<uint8_t>& picture, int width, int x, int row) {
    size_t offset = (static_cast<size_t>(row) * width + x) * 3;
    return {picture.at(offset), picture.at(offset + 1), picture.at(offset + 2)};
  }

  testing::FakeEncoder fake;
  AudioDeviceId device;
  PublisherSettings settings;
  bool deliverFrames = false;
  bool soundOpens = true;
  FakeCamera* camera = nullptr;
  FakeSound* sound = nullptr;
  FakeScreen* screen = nullptr;
};

TEST_F(CaptureSessionTest, CallOrderAndSizesForEveryPictureTypeWithAndWithoutSound) {
  for (int style = 0; style <= 4; ++style) {
    for (int haveAudio = 0; haveAudio <= 1; ++haveAudio) {
      SCOPED_TRACE("VideoStyle " + std::to_string(style) + " HaveAudio " +
                   std::to_string(haveAudio));
      fake.Reset(1, 2048);
      settings.VideoStyle = style;
      settings.HaveAudio = haveAudio;
      deliverFrames = style == 1;
      auto session = MakeSession();
      EXPECT_FALSE(session->IsRunning());
      ASSERT_TRUE(session->Start(77));
      EXPECT_TRUE(session->IsRunning());
      const bool pictures = style <= 3;
      if (pictures) {
        ASSERT_TRUE(WaitFor([&] { return fake.Count("PutVideoData") >= 2; }));
      }
      if (haveAudio) {
        ASSERT_TRUE(WaitFor([&] { return fake.Count("PutAudioData") >= 2; }));
      }
      if (!pictures) std::this_thread::sleep_for(50ms);
      session->Stop();
      EXPECT_FALSE(session->IsRunning());
      const bool cameraUsed = style >= 1 && style <= 3;
      EXPECT_EQ(camera->opens, cameraUsed ? 1 : 0);
      EXPECT_EQ(sound->opens, haveAudio);
      session.reset();

      std::vector<FakeVerbenaCall> calls = fake.Calls();
      std::vector<std::string> names = fake.Names();
      ASSERT_GE(names.size(), 3u);
      EXPECT_EQ(names[0], "CreateEncoder");
      EXPECT_EQ(names[1], "Start");
      EXPECT_EQ(fake.Count("GetAudioNofifySize"), haveAudio);
      if (haveAudio) {
        EXPECT_EQ(names[2], "GetAudioNofifySize");
      }
      ExpectOnlyLateDataAfterTheFirstStop(names);
      EXPECT_EQ(fake.Count("Stop"), 2);  // Stop, then the destructor's
      EXPECT_EQ(fake.Count("PutVideoData") > 0, pictures);
      EXPECT_EQ(fake.Count("PutAudioData") > 0, haveAudio == 1);

      EncoderParams params{};
      ASSERT_TRUE(fake.Params(&params));
      const bool desktopLarge = style == 0 || style == 2;
      EXPECT_EQ(params.Width, desktopLarge ? 1280 : 640);
      EXPECT_EQ(params.Height, desktopLarge ? 720 : 480);
      EXPECT_EQ(params.FormatCode, 4103);
      EXPECT_EQ(params.FrameRate, 30);
      EXPECT_EQ(params.Interval, 2);
      EXPECT_EQ(params.Quality, 3);
      EXPECT_EQ(params.Bitrate, 500);
      EXPECT_EQ(params.SamplesPerSec, 44100);
      EXPECT_EQ(params.BitsPerSample, 16);
      EXPECT_EQ(params.Chanels, 2);
      EXPECT_EQ(params.Record, 1);
      EXPECT_STREQ(params.Url, "rtmp://127.0.0.1/live/class");

      const uint64_t testThread = calls[0].Thread;
      for (const FakeVerbenaCall& call : calls) {
        if (std::string(call.Function) == "PutVideoData") {
          EXPECT_EQ(call.Length, params.Width * params.Height * 3);
          EXPECT_NE(call.Thread, testThread);
        }
        if (std::string(call.Function) == "PutAudioData") {
          EXPECT_EQ(call.Length, 2048);
          EXPECT_NE(call.Thread, testThread);
        }
        EXPECT_EQ(call.Handle, calls[0].Handle);
      }
    }
  }
}

TEST_F(CaptureSessionTest, CameraAndSoundAreOpenedWithTheSettings) {
  settings.VideoStyle = 2;
  settings.HaveAudio = 1;
  settings.FrameRate = 15;
  fake.Reset(1, 4410);
  auto session = MakeSession();
  ASSERT_TRUE(session->Start(1234));
  EXPECT_EQ(camera->opens, 1);
  EXPECT_EQ(camera->openArgs, (std::array<int32_t, 5>{2, 1234, 640, 480, 15}));
  EXPECT_EQ(camera->sink.load(), session.get());
  EXPECT_EQ(sound->openedWith, &device);
  EXPECT_EQ(sound->SamplesPerSec, 44100);
  EXPECT_EQ(sound->BitsPerSample, 16);
  EXPECT_EQ(sound->Chanels, 2);
  EXPECT_EQ(sound->ChunkBytes, 4410u);
  EXPECT_NE(session->TimerId(), 0u);
  session->Stop();
  session->Stop();  // a second stop changes nothing
  EXPECT_EQ(session->TimerId(), 0u);
  EXPECT_EQ(camera->stops, 2);
  EXPECT_EQ(sound->closes, 2);
  EXPECT_FALSE(session->IsRunning());
}

TEST_F(CaptureSessionTest, SoundDeviceThatDoesNotOpenLeavesAClassWithoutSound) {
  settings.HaveAudio = 1;
  soundOpens = false;
  auto session = MakeSession();
  EXPECT_TRUE(session->Start(0));
  session.reset();
  EXPECT_EQ(fake.Count("GetAudioNofifySize"), 0);
  EXPECT_EQ(fake.Count("PutAudioData"), 0);
}

TEST_F(CaptureSessionTest, FailedStartStartsNothingAndStopStillRuns) {
  settings.VideoStyle = 2;
  settings.HaveAudio = 1;
  fake.Reset(0);
  auto session = MakeSession();
  EXPECT_FALSE(session->Start(0));
  EXPECT_TRUE(session->IsRunning());  // until Stop
  EXPECT_EQ(camera->opens, 0);
  EXPECT_EQ(sound->opens, 0);
  EXPECT_EQ(session->TimerId(), 0u);
  session->Stop();
  EXPECT_FALSE(session->IsRunning());
  session.reset();
  EXPECT_EQ(fake.Names(), (std::vector<std::string>{"CreateEncoder", "Start", "Stop", "Stop"}));
}

TEST_F(CaptureSessionTest, MissingLibraryFailsStartWithoutCallingAnything) {
  auto session = MakeSession(false);
  EXPECT_FALSE(session->Start(0));
  session->Stop();
  session.reset();
  EXPECT_TRUE(fake.Names().empty());
}

TEST_F(CaptureSessionTest, LateCameraAndSoundCallsAfterStopAreHarmless) {
  settings.VideoStyle = 1;
  auto session = MakeSession();
  ASSERT_TRUE(session->Start(0));
  session->Stop();
  std::vector<uint8_t> frame(640 * 480 * 3, 1);
  session->OnVideoFrame(0.0, frame.data(), static_cast<int32_t>(frame.size()));
  session->OnAudioData(frame.data(), 100);
  session->OnVideoFrame(0.0, nullptr, 5);
  session->OnAudioData(nullptr, 5);
  session.reset();
  // The library is told to ignore them; what matters is that nothing broke.
  EXPECT_EQ(fake.Count("PutVideoData"), 1);
  EXPECT_EQ(fake.Count("PutAudioData"), 1);
}

TEST_F(CaptureSessionTest, DesktopOnlyCarriesTheMarker) {
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession&) {});
  ASSERT_EQ(picture.size(), 1280u * 720 * 3);
  // Pointer at (100, 100): columns 100-114, screen lines 85-99, that is buffer rows 620-634.
  EXPECT_EQ(At(picture, 1280, 100, 620), kRed);
  EXPECT_EQ(At(picture, 1280, 114, 634), kRed);
  EXPECT_EQ(At(picture, 1280, 115, 634), kDesktop);
  EXPECT_EQ(At(picture, 1280, 100, 619), kDesktop);
  EXPECT_EQ(At(picture, 1280, 100, 635), kDesktop);
  EXPECT_EQ(At(picture, 1280, 0, 0), kDesktop);
}

TEST_F(CaptureSessionTest, CameraInsetFillsTheBottomLeftCorner) {
  settings.VideoStyle = 2;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession& s) {
    screen->pointerX = 0;
    DeliverCameraFrame(s, kCamera);
  });
  EXPECT_EQ(At(picture, 1280, 0, 0), kCamera);
  EXPECT_EQ(At(picture, 1280, 319, 179), kCamera);
  EXPECT_EQ(At(picture, 1280, 320, 0), kDesktop);
  EXPECT_EQ(At(picture, 1280, 0, 180), kDesktop);
  EXPECT_EQ(At(picture, 1280, 1279, 719), kDesktop);
}

TEST_F(CaptureSessionTest, CameraInsetPastTheEdgesTouchesTheTopRightCorner) {
  settings.VideoStyle = 2;
  settings.VideoX = 2000;
  settings.VideoY = 2000;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession& s) {
    screen->pointerX = 0;
    DeliverCameraFrame(s, kCamera);
  });
  EXPECT_EQ(At(picture, 1280, 960, 540), kCamera);
  EXPECT_EQ(At(picture, 1280, 1279, 719), kCamera);
  EXPECT_EQ(At(picture, 1280, 959, 540), kDesktop);
  EXPECT_EQ(At(picture, 1280, 960, 539), kDesktop);
}

TEST_F(CaptureSessionTest, CameraInsetIsBlackBeforeTheFirstFrameAndTheMarkerGoesOnTop) {
  settings.VideoStyle = 2;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession&) {
    screen->pointerX = 20;
    screen->pointerY = 700;  // over the inset: buffer rows 20-34
  });
  EXPECT_EQ(At(picture, 1280, 100, 100), kBlack);
  EXPECT_EQ(At(picture, 1280, 319, 179), kBlack);
  EXPECT_EQ(At(picture, 1280, 20, 20), kRed);
  EXPECT_EQ(At(picture, 1280, 34, 34), kRed);
  EXPECT_EQ(At(picture, 1280, 35, 34), kBlack);
  EXPECT_EQ(At(picture, 1280, 320, 0), kDesktop);
}

TEST_F(CaptureSessionTest, ScreenRateOneCoversTheDesktopAndAHugeRateLeavesItAlone) {
  settings.VideoStyle = 2;
  settings.ScreenRate = 1;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession& s) {
    screen->pointerX = 0;
    DeliverCameraFrame(s, kCamera);
  });
  EXPECT_EQ(At(picture, 1280, 0, 0), kCamera);
  EXPECT_EQ(At(picture, 1280, 1279, 719), kCamera);

  settings.ScreenRate = 2000;
  picture = PublishedPicture([&](CaptureSession& s) {
    screen->pointerX = 0;
    DeliverCameraFrame(s, kCamera);
  });
  EXPECT_EQ(At(picture, 1280, 0, 0), kDesktop);
}

TEST_F(CaptureSessionTest, DesktopInsetInTheCameraPictureWithoutMarker) {
  settings.VideoStyle = 3;
  settings.VideoX = 1000;  // pulled back to 480
  settings.VideoY = 10;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession& s) {
    screen->pointerX = 300;
    screen->pointerY = 300;
    DeliverCameraFrame(s, kCamera);
  });
  ASSERT_EQ(picture.size(), 640u * 480 * 3);
  EXPECT_EQ(At(picture, 640, 480, 10), kDesktop);
  EXPECT_EQ(At(picture, 640, 639, 129), kDesktop);
  EXPECT_EQ(At(picture, 640, 479, 10), kCamera);
  EXPECT_EQ(At(picture, 640, 480, 9), kCamera);
  EXPECT_EQ(At(picture, 640, 480, 130), kCamera);
  for (size_t i = 0; i < picture.size(); i += 3) {
    ASSERT_NE((Bgr{picture[i], picture[i + 1], picture[i + 2]}), kRed) << "marker at " << i / 3;
  }
}

TEST_F(CaptureSessionTest, DesktopInsetOnBlackBeforeTheFirstCameraFrame) {
  settings.VideoStyle = 3;
  settings.VideoX = 2000;
  settings.VideoY = 2000;
  std::vector<uint8_t> picture = PublishedPicture([&](CaptureSession&) {});
  EXPECT_EQ(At(picture, 640, 0, 0), kBlack);
  EXPECT_EQ(At(picture, 640, 479, 359), kBlack);
  EXPECT_EQ(At(picture, 640, 480, 360), kDesktop);
  EXPECT_EQ(At(picture, 640, 639, 479), kDesktop);
}

TEST_F(CaptureSessionTest, PaddedCameraRowsAreCopiedWithoutThePadding) {
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
  auto session = MakeSession();
  ASSERT_TRUE(session->Start(0));
  session->OnVideoFrame(0.0, padded.data(), 32 * 4);
  session->OnVideoFrame(0.0, padded.data(), 31 * 4);      // neither size: dropped
  session->OnVideoFrame(0.0, padded.data(), 32 * 4 + 1);  // dropped
  EXPECT_EQ(session->DroppedCameraFrames(), 2u);
  session.reset();
  EXPECT_EQ(fake.Count("PutVideoData"), 1);
  EXPECT_EQ(fake.LastPicture(), expected);

  // The same frame in the camera-large picture, with no inset to cover it.
  settings.VideoStyle = 3;
  settings.ScreenRate = 100;
  std::vector<uint8_t> picture =
      PublishedPicture([&](CaptureSession& s) { s.OnVideoFrame(0.0, padded.data(), 32 * 4); });
  EXPECT_EQ(picture, expected);
}

TEST_F(CaptureSessionTest, UnusableSettingsNeitherDivideByZeroNorWriteOutside) {
  settings.VideoStyle = 3;
  settings.ScreenRate = 0;
  settings.VideoX = -50;
  settings.VideoY = -50;
  settings.ScreenWidth = -4;
  std::vector<uint8_t> picture =
      PublishedPicture([&](CaptureSession& s) { DeliverCameraFrame(s, kCamera); });
  EXPECT_EQ(At(picture, 640, 0, 0), kCamera);

  settings.VideoStyle = 2;
  settings.ScreenWidth = 1280;
  settings.ScreenRate = 1;
  settings.VideoWidth = 1920;  // camera larger than the desktop
  settings.VideoHeight = 1080;
  settings.VideoX = -50;
  picture = PublishedPicture([&](CaptureSession& s) { DeliverCameraFrame(s, kCamera); });
  EXPECT_EQ(At(picture, 1280, 0, 0), kCamera);

  settings.VideoStyle = 0;
  settings.FrameRate = 0;  // no timer at all rather than a division by zero
  auto session = MakeSession();
  EXPECT_TRUE(session->Start(0));
  EXPECT_EQ(session->TimerId(), 0u);
}

TEST_F(CaptureSessionTest, DestructionWhileCallbacksAreStillArriving) {
  settings.HaveAudio = 1;
  settings.FrameRate = 100;
  settings.ScreenWidth = 320;
  settings.ScreenHeight = 240;
  settings.VideoWidth = 160;
  settings.VideoHeight = 120;
  deliverFrames = true;
  for (int style = 1; style <= 3; ++style) {
    settings.VideoStyle = style;
    for (int round = 0; round < 5; ++round) {
      fake.Reset();
      auto session = MakeSession();
      ASSERT_TRUE(session->Start(0));
      ASSERT_TRUE(WaitFor(
          [&] { return fake.Count("PutVideoData") >= 3 && fake.Count("PutAudioData") >= 3; }));
      session.reset();  // without Stop: the destructor ends everything itself
      std::vector<std::string> names = fake.Names();
      ExpectOnlyLateDataAfterTheFirstStop(names);
      std::this_thread::sleep_for(5ms);
      EXPECT_EQ(fake.Names().size(), names.size()) << "a call after the session was gone";
    }
  }
}

}  // namespace
}  // namespace quillon
