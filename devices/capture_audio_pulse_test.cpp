#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/testing/test_folder.h"
#include "base/testing/wait_for.h"
#include "devices/capture_audio.h"
#include "devices/device_lists.h"
#include "devices/testing/recording_sinks.h"
#include "devices/testing/test_support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::CdCapture;
using testing::Recorder;
using testing::TestSoundServer;

class CaptureAudioPulseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TestSoundServer;
    if (!server_->Start()) FAIL() << "test sound server did not start:\n" << server_->Log();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // A capture object opened on the test microphone as the capture session opens it.
  std::unique_ptr<CCaptureAudio> OpenMicrophone(int32_t bitsPerSample = 16) {
    auto capture = CdCapture(bitsPerSample);
    EXPECT_TRUE(capture->Open(&microphone_));
    return capture;
  }

  static inline TestSoundServer* server_ = nullptr;
  const AudioDeviceId microphone_{{}, TestSoundServer::kMicrophone};
  const AudioDeviceId unknown_{{}, "no_such_source"};
  Recorder sink_;
};

TEST_F(CaptureAudioPulseTest, RecordsTheToneInWholeChunksWithoutGapOrRepeat) {
  auto capture = OpenMicrophone();
  testing::ExpectTheToneInWholeChunks(*capture, &unknown_, TestSoundServer::kToneHz);
  capture->Close();  // twice is harmless
}

TEST_F(CaptureAudioPulseTest, StopWakesTheWorkerAtOnce) {
  testing::ExpectTheStopToEndTheWorkerAtOnce(*OpenMicrophone());
}

TEST_F(CaptureAudioPulseTest, OnlyAKnownSourceOpensAndOnlyAUsableFormatStartsAWorker) {
  auto never = CdCapture();
  EXPECT_FALSE(never->Open(nullptr));
  EXPECT_FALSE(never->Open(NoAudioSelection()));
  EXPECT_FALSE(never->Open(&unknown_));

  auto noChunks = OpenMicrophone();
  noChunks->ChunkBytes = 0;
  EXPECT_NE(noChunks->SetRecording(true, &sink_), 0);
  EXPECT_EQ(noChunks->SetRecording(false, &sink_), 0);
  noChunks->Close();

  auto twelveBits = OpenMicrophone(12);
  twelveBits->ChunkBytes = 4096;
  EXPECT_NE(twelveBits->SetRecording(true, &sink_), 0);
  twelveBits->Close();

  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(sink_.Lengths().empty());
  // Stopping and closing what never started changes nothing.
  EXPECT_EQ(never->SetRecording(false, &sink_), 0);
  never->Close();
}

TEST_F(CaptureAudioPulseTest, SoundListPutsTheDefaultEntryAndThenTheDefaultSourceFirst) {
  const std::vector<SoundListEntry> list = ListSoundDevices();
  ASSERT_GE(list.size(), 4u);  // default entry, the microphone, two monitors
  EXPECT_EQ(list[0].Device, nullptr);
  ASSERT_NE(list[1].Device, nullptr);
  EXPECT_EQ(list[1].Device->Name, TestSoundServer::kMicrophone);
  EXPECT_EQ(list[1].Description, TestSoundServer::kMicrophoneDescription);
  for (size_t i = 2; i < list.size(); ++i) {
    EXPECT_EQ(list[i].Description.rfind(kMonitorPrefix, 0), 0u) << list[i].Description;
  }
  auto capture = CdCapture();
  EXPECT_TRUE(capture->Open(list[1].Device));  // the listed identifier opens the device
  capture->Close();

  // The server's default source comes next even when it is a monitor, which would go last.
  ASSERT_EQ(std::system("pactl set-default-source tone_sink.monitor"), 0);
  const std::vector<SoundListEntry> monitorFirst = ListSoundDevices();
  EXPECT_EQ(std::system("pactl set-default-source quillon_test_mic"), 0);
  ASSERT_GE(monitorFirst.size(), 2u);
  ASSERT_NE(monitorFirst[1].Device, nullptr);
  EXPECT_EQ(monitorFirst[1].Device->Name, "tone_sink.monitor");
}

TEST(CaptureAudioPulseNoServer, OpenFailsAtOnceAndTheListHasOnlyTheDefaultEntry) {
  TestFolder dir;
  SetTestEnvironment("PULSE_SERVER", ("unix:" + (dir / "nobody").string()).c_str());
  auto capture = CdCapture();
  const AudioDeviceId microphone{{}, "any"};
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(capture->Open(&microphone));
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_EQ(ListSoundDevices().size(), 1u);
  SetTestEnvironment("PULSE_SERVER", nullptr);
}

TEST(CaptureAudioPulseLostServer, AFailedReadTellsTheUserAndEndsTheWorker) {
  testing::MessageLog messages;
  Recorder sink;
  auto server = std::make_unique<TestSoundServer>();
  ASSERT_TRUE(server->Start()) << server->Log();
  auto capture = CdCapture();
  const AudioDeviceId microphone{{}, TestSoundServer::kMicrophone};
  ASSERT_TRUE(capture->Open(&microphone));
  capture->ChunkBytes = 4096;
  ASSERT_EQ(capture->SetRecording(true, &sink), 0);
  ASSERT_TRUE(sink.WaitForBytes(4096, 3s));
  server.reset();  // the sound server goes away in the middle of a class
  WaitFor([&] { return !messages.Texts().empty(); }, 2s);
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error handling PulseAudio notifications."});
  EXPECT_EQ(capture->SetRecording(false, &sink), 0);
  capture->Close();
}

}  // namespace
}  // namespace quillon
