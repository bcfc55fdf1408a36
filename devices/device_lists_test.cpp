#include "devices/device_lists.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(BuildSoundList, DefaultEntryThenDefaultSourceThenMicrophonesThenMonitors) {
  AudioDeviceTable table;
  const std::vector<SoundSource> sources = {
      {"out.monitor", "Monitor of Speakers", true}, {"mic.usb", "USB Microphone", false},
      {"speakers2.monitor", "HDMI Output", true},   {"mic.builtin", "Built-in Microphone", false},
      {"mic.usb2", "USB Microphone", false},
  };
  const auto list = BuildSoundList(sources, "mic.builtin", table);
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].Description, kDefaultSoundDevice);
  EXPECT_EQ(list[0].Device, nullptr);
  EXPECT_EQ(list[1].Description, "Built-in Microphone");
  EXPECT_EQ(list[1].Device->Name, "mic.builtin");
  // The same description twice: each entry keeps its own identifier.
  EXPECT_EQ(list[2].Device->Name, "mic.usb");
  EXPECT_EQ(list[3].Device->Name, "mic.usb2");
  EXPECT_EQ(list[4].Description, "Monitor of Speakers");
  EXPECT_EQ(list[5].Description, "Monitor of HDMI Output");  // a teacher can tell it is an output
  EXPECT_EQ(list[5].Device->Name, "speakers2.monitor");
}

TEST(AudioDeviceTable, TwentySlotsThatNeverMoveAndAreReusedByName) {
  AudioDeviceTable table;
  std::vector<SoundSource> sources;
  for (int i = 0; i < 25; ++i) sources.push_back({"src" + std::to_string(i), "Mic", false});
  const auto first = BuildSoundList(sources, "", table);
  ASSERT_EQ(first.size(), 1u + AudioDeviceTable::kSlots);  // only the first 20 identifiers
  EXPECT_EQ(first.back().Device->Name, "src19");
  EXPECT_EQ(table.Count(), AudioDeviceTable::kSlots);
  // Listing again (a second window, --list-devices) finds the same slots: never reset, never
  // moved, and a device keeps its slot.
  const auto again = BuildSoundList(sources, "src3", table);
  EXPECT_EQ(again[1].Device, first[4].Device);
  EXPECT_EQ(again[2].Device, first[1].Device);
  EXPECT_EQ(table.Count(), AudioDeviceTable::kSlots);
  EXPECT_EQ(table.Add("src24"), nullptr);
}

TEST(SoundChoice, PositionGivesTheEntrysIdentifierAndNoSelectionPastTheList) {
  AudioDeviceTable table;
  const auto onlyDefault = BuildSoundList({}, "", table);
  EXPECT_EQ(SoundChoice(onlyDefault, kStartupSoundPosition), NoAudioSelection());
  EXPECT_EQ(SoundChoice(onlyDefault, -1), NoAudioSelection());
  const auto list = BuildSoundList({{"mic", "Microphone", false}}, "mic", table);
  EXPECT_EQ(SoundChoice(list, 0), nullptr);
  EXPECT_EQ(SoundChoice(list, kStartupSoundPosition)->Name, "mic");
}

}  // namespace
}  // namespace quillon
