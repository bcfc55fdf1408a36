#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/capture_audio.h"
#include "devices/device_lists.h"
#include "devices/recording_sinks.h"
#include "devices/testing/test_support.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testing::RecordingSink;

class CaptureAudioPulseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new testing::TestSoundServer;
    if (!server_->Start()) FAIL() << "test sound server did not start:\n" << server_->Log();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // A capture object opened on the test microphone as the capture session opens it.
  std::unique_ptr<CCaptureAudio> OpenMicrophone(uint32_t chunkBytes) {
    auto capture = CreateCaptureAudio();
    capture->SamplesPerSec = 44100;
    capture->BitsPerSample = 16;
    capture->Chanels = 2;
    EXPECT_TRUE(capture->Open(&microphone_));
    capture->ChunkBytes = chunkBytes;
    return capture;
  }

  static testing::TestSoundServer* server_;
  AudioDeviceId microphone_{{}, testing::TestSoundServer::kMicrophone};
  RecordingSink sink_;
};
testing::TestSoundServer* CaptureAudioPulseTest::server_ = nullptr;

TEST_F(CaptureAudioPulseTest, RecordsTheToneInWholeChunksWithoutGapOrRepeat) {
  constexpr uint32_t kChunk = 4096;  // about 23 ms of CD sound
  auto capture = OpenMicrophone(kChunk);
  ASSERT_EQ(capture->SetRecording(true, &sink_), 0);
  EXPECT_TRUE(sink_.WaitForBytes(176400 / 2, 5s));  // half a second
  EXPECT_EQ(capture->SetRecording(false, &sink_), 0);
  capture->Close();
  capture->Close();  // twice is harmless

  for (int32_t piece : sink_.Pieces()) {
    ASSERT_GT(piece, 0);
    ASSERT_EQ(piece % kChunk, 0u) << "a piece that is not whole chunks";
  }
  const testing::ToneMeasure tone =
      testing::MeasureTone(sink_.Bytes(), 44100, testing::TestSoundServer::kToneHz);
  ASSERT_GE(tone.Samples, 22050u);
  EXPECT_NEAR(tone.Hz, testing::TestSoundServer::kToneHz, 10);
  ASSERT_GT(tone.Peak, 1000);
  EXPECT_LT(tone.WorstResidual, 0.02 * tone.Peak + 4) << "a gap or a repeat in the recorded sound";
}

TEST_F(CaptureAudioPulseTest, StopWakesTheWorkerAtOnceAndNothingArrivesAfterwards) {
  // One chunk is a whole second of sound: a worker that waited for its next chunk would hold the
  // stop for up to a second.
  auto capture = OpenMicrophone(176400);
  ASSERT_EQ(capture->SetRecording(true, &sink_), 0);
  std::this_thread::sleep_for(300ms);
  const auto before = Clock::now();
  EXPECT_EQ(capture->SetRecording(false, &sink_), 0);
  EXPECT_LT(Clock::now() - before, 500ms);
  const size_t pieces = sink_.Pieces().size();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(sink_.Pieces().size(), pieces);
  capture->Close();
}

TEST_F(CaptureAudioPulseTest, OpenGivesTrueOnlyForAKnownSourceAndKeepsARecording) {
  auto capture = CreateCaptureAudio();
  EXPECT_FALSE(capture->Open(nullptr));
  EXPECT_FALSE(capture->Open(NoAudioSelection()));
  const AudioDeviceId unknown{{}, "no_such_source"};
  EXPECT_FALSE(capture->Open(&unknown));

  auto recording = OpenMicrophone(4096);
  ASSERT_EQ(recording->SetRecording(true, &sink_), 0);
  EXPECT_TRUE(recording->Open(&unknown));  // a recording object is left as it is
  EXPECT_TRUE(sink_.WaitForBytes(2 * 4096, 3s));
  EXPECT_EQ(recording->SetRecording(false, &sink_), 0);
  recording->Close();
}

TEST_F(CaptureAudioPulseTest, StartFailsWithoutWorkerForNoChunkSizeOrAnUnusableDepth) {
  auto noChunks = OpenMicrophone(0);
  EXPECT_NE(noChunks->SetRecording(true, &sink_), 0);
  EXPECT_EQ(noChunks->SetRecording(false, &sink_), 0);
  noChunks->Close();

  auto twelveBits = CreateCaptureAudio();
  twelveBits->SamplesPerSec = 44100;
  twelveBits->BitsPerSample = 12;
  twelveBits->Chanels = 2;
  ASSERT_TRUE(twelveBits->Open(&microphone_));
  twelveBits->ChunkBytes = 4096;
  EXPECT_NE(twelveBits->SetRecording(true, &sink_), 0);
  twelveBits->Close();

  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(sink_.Pieces().empty());
  // Stopping and closing what never started changes nothing.
  auto never = CreateCaptureAudio();
  EXPECT_EQ(never->SetRecording(false, &sink_), 0);
  never->Close();
}

TEST_F(CaptureAudioPulseTest, SoundListPutsTheDefaultEntryAndThenTheDefaultSourceFirst) {
  const std::vector<SoundListEntry> list = ListSoundDevices();
  ASSERT_GE(list.size(), 4u);  // default entry, the microphone, two monitors
  EXPECT_EQ(list[0].Device, nullptr);
  ASSERT_NE(list[1].Device, nullptr);
  EXPECT_EQ(list[1].Device->Name, testing::TestSoundServer::kMicrophone);
  EXPECT_EQ(list[1].Description, testing::TestSoundServer::kMicrophoneDescription);
  for (size_t i = 2; i < list.size(); ++i) {
    EXPECT_EQ(list[i].Description.rfind(kMonitorPrefix, 0), 0u) << list[i].Description;
  }
  // The listed identifier opens the device.
  auto capture = CreateCaptureAudio();
  capture->SamplesPerSec = 44100;
  capture->BitsPerSample = 16;
  capture->Chanels = 2;
  EXPECT_TRUE(capture->Open(list[1].Device));
  capture->Close();
}

TEST(CaptureAudioPulseNoServer, OpenFailsAtOnceAndTheListHasOnlyTheDefaultEntry) {
  testing::TempDir dir;
  const char* previous = std::getenv("PULSE_SERVER");
  const std::string saved = previous ? previous : "";
  setenv("PULSE_SERVER", ("unix:" + dir.Path() + "/nobody").c_str(), 1);
  auto capture = CreateCaptureAudio();
  const AudioDeviceId microphone{{}, "any"};
  const auto before = Clock::now();
  EXPECT_FALSE(capture->Open(&microphone));
  EXPECT_LT(Clock::now() - before, 2s);
  EXPECT_EQ(ListSoundDevices().size(), 1u);
  if (previous) {
    setenv("PULSE_SERVER", saved.c_str(), 1);
  } else {
    unsetenv("PULSE_SERVER");
  }
}

TEST(CaptureAudioPulseLostServer, AFailedReadTellsTheUserAndEndsTheWorker) {
  testing::MessageLog messages;
  RecordingSink sink;
  auto server = std::make_unique<testing::TestSoundServer>();
  ASSERT_TRUE(server->Start()) << server->Log();
  auto capture = CreateCaptureAudio();
  capture->SamplesPerSec = 44100;
  capture->BitsPerSample = 16;
  capture->Chanels = 2;
  const AudioDeviceId microphone{{}, testing::TestSoundServer::kMicrophone};
  ASSERT_TRUE(capture->Open(&microphone));
  capture->ChunkBytes = 4096;
  ASSERT_EQ(capture->SetRecording(true, &sink), 0);
  ASSERT_TRUE(sink.WaitForBytes(4096, 3s));
  server.reset();  // the sound server goes away in the middle of a class
  for (int i = 0; i < 100 && messages.Texts().empty(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error handling PulseAudio notifications."});
  EXPECT_EQ(capture->SetRecording(false, &sink), 0);
  capture->Close();
}

}  // namespace
}  // namespace quillon
