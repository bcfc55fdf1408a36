#include "devices/device_lists.h"

#include <utility>

namespace quillon {

const AudioDeviceId* AudioDeviceTable::Add(const std::string& name) {
  return Add(name, {});
}

const AudioDeviceId* AudioDeviceTable::Add(const std::string& name,
                                           const std::array<uint8_t, 16>& guid) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < count_; ++i) {
    if (slots_[i].Name == name) return &slots_[i];
  }
  if (count_ == kSlots) return nullptr;
  AudioDeviceId& slot = slots_[count_++];
  slot.Name = name;
  slot.Guid = guid;  // zero where the name alone identifies the device
  return &slot;
}

size_t AudioDeviceTable::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

AudioDeviceTable& TheAudioDeviceTable() {
  static AudioDeviceTable table;
  return table;
}

std::vector<SoundListEntry> BuildSoundList(const std::vector<SoundSource>& sources,
                                           const std::string& defaultName,
                                           AudioDeviceTable& table) {
  std::vector<const SoundSource*> ordered;
  auto take = [&](auto&& wanted) {
    for (const SoundSource& source : sources) {
      if (wanted(source)) ordered.push_back(&source);
    }
  };
  take([&](const SoundSource& s) { return s.Name == defaultName; });
  take([&](const SoundSource& s) { return s.Name != defaultName && !s.IsMonitor; });
  take([&](const SoundSource& s) { return s.Name != defaultName && s.IsMonitor; });

  std::vector<SoundListEntry> list;
  list.push_back({kDefaultSoundDevice, nullptr});
  for (const SoundSource* source : ordered) {
    const AudioDeviceId* slot = table.Add(source->Name);
    if (slot == nullptr) continue;
    std::string description = source->Description.empty() ? source->Name : source->Description;
    if (source->IsMonitor && description.rfind(kMonitorPrefix, 0) != 0) {
      description = kMonitorPrefix + description;
    }
    list.push_back({std::move(description), slot});
  }
  return list;
}

const AudioDeviceId* SoundChoice(const std::vector<SoundListEntry>& list, int position) {
  if (position < 0 || static_cast<size_t>(position) >= list.size()) return NoAudioSelection();
  return list[static_cast<size_t>(position)].Device;
}

}  // namespace quillon
