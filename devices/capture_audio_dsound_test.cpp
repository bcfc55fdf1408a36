// DirectSound capture. The recording tests need a capture device that hears a steady tone:
// tests/win_devices_sound.sh provides one (a PulseAudio daemon of its own under Wine) and sets
// QUILLON_TEST_TONE_HZ; without it only the device-free cases run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "devices/capture_audio.h"
#include "devices/device_lists.h"
#include "devices/testing/recording_sinks.h"

namespace quillon {
namespace {

using testing::CdCapture;

TEST(CaptureAudioDSound, OpenRefusesNoDeviceAndStartRefusesNoChunkSize) {
  auto capture = CdCapture();
  EXPECT_FALSE(capture->Open(nullptr));
  EXPECT_FALSE(capture->Open(NoAudioSelection()));
  testing::Recorder sink;
  EXPECT_NE(capture->SetRecording(true, &sink), 0);  // nothing opened
  EXPECT_EQ(capture->SetRecording(false, &sink), 0);
  capture->Close();
  capture->Close();
  EXPECT_TRUE(sink.Lengths().empty());
}

class CaptureAudioDSoundTone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* hz = std::getenv("QUILLON_TEST_TONE_HZ");
    if (hz == nullptr) GTEST_SKIP() << "needs a capture device with a tone (win_devices_sound.sh)";
    toneHz_ = std::atof(hz);
    list_ = ListSoundDevices();
  }

  // A capture object opened on the device the window would choose at start-up.
  std::unique_ptr<CCaptureAudio> OpenStartupChoice() {
    auto capture = CdCapture();
    EXPECT_TRUE(capture->Open(SoundChoice(list_, kStartupSoundPosition)));
    return capture;
  }

  double toneHz_ = 0;
  std::vector<SoundListEntry> list_;
};

TEST_F(CaptureAudioDSoundTone, ListStartsWithThePrimaryDriverWithoutIdentifier) {
  ASSERT_GE(list_.size(), 2u);
  EXPECT_EQ(list_[0].Device, nullptr);
  EXPECT_FALSE(list_[0].Description.empty());  // the system's name for it
  for (size_t i = 1; i < list_.size(); ++i) {
    ASSERT_NE(list_[i].Device, nullptr) << list_[i].Description;
    EXPECT_EQ(list_[i].Device->Name.size(), 38u) << "a GUID in registry form";
  }
  // A second listing finds the same slots.
  const std::vector<SoundListEntry> again = ListSoundDevices();
  ASSERT_EQ(again.size(), list_.size());
  EXPECT_EQ(again[1].Device, list_[1].Device);
}

TEST_F(CaptureAudioDSoundTone, RecordsTheToneInWholeChunksWithoutGapOrRepeat) {
  testing::ExpectTheToneInWholeChunks(*OpenStartupChoice(),
                                      SoundChoice(list_, kStartupSoundPosition), toneHz_);
}

TEST_F(CaptureAudioDSoundTone, StopEndsTheWorkerAtOnceEvenWithSecondLongChunks) {
  testing::ExpectTheStopToEndTheWorkerAtOnce(*OpenStartupChoice());
}

}  // namespace
}  // namespace quillon
