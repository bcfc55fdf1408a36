// DirectSound capture. The recording test needs a capture device that hears a steady tone:
// tests/win_devices_sound.sh provides one (a PulseAudio daemon of its own under Wine) and sets
// QUILLON_TEST_TONE_HZ; without it only the device-free cases run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "devices/capture_audio.h"
#include "devices/device_lists.h"
#include "devices/recording_sinks.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::RecordingSink;

constexpr int32_t kRate = 44100;
constexpr uint32_t kSecondBytes = kRate * 4;  // 16-bit stereo

std::unique_ptr<CCaptureAudio> MakeCapture() {
  auto capture = CreateCaptureAudio();
  capture->SamplesPerSec = kRate;
  capture->BitsPerSample = 16;
  capture->Chanels = 2;
  return capture;
}

TEST(CaptureAudioDSound, OpenRefusesNoDeviceAndStartRefusesNoChunkSize) {
  auto capture = MakeCapture();
  EXPECT_FALSE(capture->Open(nullptr));
  EXPECT_FALSE(capture->Open(NoAudioSelection()));
  RecordingSink sink;
  EXPECT_NE(capture->SetRecording(true, &sink), 0);  // nothing opened
  EXPECT_EQ(capture->SetRecording(false, &sink), 0);
  capture->Close();
  capture->Close();
  EXPECT_TRUE(sink.Pieces().empty());
}

class CaptureAudioDSoundTone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* hz = std::getenv("QUILLON_TEST_TONE_HZ");
    if (hz == nullptr) GTEST_SKIP() << "needs a capture device with a tone (win_devices_sound.sh)";
    toneHz_ = std::atof(hz);
    list_ = ListSoundDevices();
    for (size_t i = 0; i < list_.size(); ++i) {
      std::printf("sound %zu: %s [%s]\n", i, list_[i].Description.c_str(),
                  list_[i].Device ? list_[i].Device->Name.c_str() : "none");
    }
  }

  // The device the window would choose at start-up.
  const AudioDeviceId* StartupChoice() { return SoundChoice(list_, kStartupSoundPosition); }

  double toneHz_ = 0;
  std::vector<SoundListEntry> list_;
  RecordingSink sink_;
};

TEST_F(CaptureAudioDSoundTone, ListStartsWithThePrimaryDriverWithoutIdentifier) {
  ASSERT_GE(list_.size(), 2u);
  EXPECT_EQ(list_[0].Device, nullptr);
  EXPECT_FALSE(list_[0].Description.empty());  // the system's name for it
  for (size_t i = 1; i < list_.size(); ++i) {
    ASSERT_NE(list_[i].Device, nullptr);
    EXPECT_EQ(list_[i].Device->Name.size(), 38u) << "a GUID in registry form";
  }
  // A second listing finds the same slots.
  const std::vector<SoundListEntry> again = ListSoundDevices();
  ASSERT_EQ(again.size(), list_.size());
  EXPECT_EQ(again[1].Device, list_[1].Device);
}

TEST_F(CaptureAudioDSoundTone, RecordsTheToneInWholeChunksWithoutGapOrRepeat) {
  constexpr uint32_t kChunk = 4096;  // about 23 ms
  auto capture = MakeCapture();
  ASSERT_TRUE(capture->Open(StartupChoice()));
  capture->ChunkBytes = kChunk;
  ASSERT_EQ(capture->SetRecording(true, &sink_), 0);
  EXPECT_TRUE(capture->Open(StartupChoice()));  // a recording object is left as it is
  EXPECT_TRUE(sink_.WaitForBytes(kSecondBytes, 5s));
  EXPECT_EQ(capture->SetRecording(false, &sink_), 0);
  const size_t pieces = sink_.Pieces().size();
  capture->Close();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(sink_.Pieces().size(), pieces) << "sound after the stop";

  for (int32_t piece : sink_.Pieces()) {
    ASSERT_GT(piece, 0);
    ASSERT_EQ(piece % kChunk, 0u) << "a piece that is not whole chunks";
  }
  // The first moments of a capture may be silence while the device starts: measure the last
  // three quarters of a second.
  std::vector<uint8_t> bytes = sink_.Bytes();
  ASSERT_GE(bytes.size(), kSecondBytes);
  bytes.erase(bytes.begin(), bytes.end() - kSecondBytes * 3 / 4);
  const testing::ToneMeasure tone = testing::MeasureTone(bytes, kRate, toneHz_);
  std::printf("tone: %.1f Hz, peak %.0f, worst residual %.0f\n", tone.Hz, tone.Peak,
              tone.WorstResidual);
  EXPECT_NEAR(tone.Hz, toneHz_, 10);
  ASSERT_GT(tone.Peak, 1000);
  EXPECT_LT(tone.WorstResidual, 0.02 * tone.Peak + 4) << "a gap or a repeat in the recorded sound";
}

TEST_F(CaptureAudioDSoundTone, StopEndsTheWorkerAtOnceEvenWithSecondLongChunks) {
  // One chunk is a whole second: a worker that waited for its next notification would hold the
  // stop for up to a second.
  auto capture = MakeCapture();
  ASSERT_TRUE(capture->Open(StartupChoice()));
  capture->ChunkBytes = kSecondBytes;
  ASSERT_EQ(capture->SetRecording(true, &sink_), 0);
  std::this_thread::sleep_for(300ms);
  const auto before = Clock::now();
  EXPECT_EQ(capture->SetRecording(false, &sink_), 0);
  EXPECT_LT(Clock::now() - before, 500ms);
  capture->Close();
  EXPECT_TRUE(sink_.Pieces().empty()) << "no whole chunk was ready";
}

}  // namespace
}  // namespace quillon
