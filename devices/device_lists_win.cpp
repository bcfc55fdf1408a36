// The device lists on Windows: cameras from DirectShow's system device enumerator, sound devices
// from DirectSound's capture enumeration (the primary capture device first, without GUID).
//
// Each listing keeps COM initialised on its own thread for its own duration, balanced on return:
// it works the same whether or not the caller has an apartment (the window's thread has one for
// the page control; --list-devices has none), and leaves the caller's apartment as it was.
#include <dsound.h>

#include <cstring>

#include "devices/com_win.h"
#include "devices/device_lists.h"
#include "devices/dshow_devices.h"

namespace quillon {
namespace {

// Text in the ANSI code page (what the "A" enumeration gives) as UTF-8.
std::string AnsiToUtf8(const char* ansi) {
  if (ansi == nullptr || ansi[0] == '\0') return {};
  const int wide = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  if (wide <= 1) return {};
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, text.data(), wide);
  return WideToUtf8(text.c_str());
}

// The GUID's registry form, "{xxxxxxxx-...}": the device's name in the table and in
// --list-devices.
std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  if (StringFromGUID2(guid, text, 40) == 0) return {};
  return WideToUtf8(text);
}

struct SoundListing {
  std::vector<SoundListEntry>* List;
  AudioDeviceTable* Table;
};

// One device of the enumeration: its entry, with its GUID in the next slot of the table. A
// device that finds no slot (all 20 taken) gets no entry; one without GUID always does.
BOOL CALLBACK ListSoundDevice(LPGUID guid, LPCSTR description, LPCSTR /*module*/, LPVOID context) {
  auto* listing = static_cast<SoundListing*>(context);
  const AudioDeviceId* device = nullptr;
  if (guid != nullptr) {
    std::array<uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), guid, bytes.size());
    device = listing->Table->Add(GuidText(*guid), bytes);
    if (device == nullptr) return TRUE;
  }
  listing->List->push_back({AnsiToUtf8(description), device});
  return TRUE;
}

}  // namespace

std::vector<std::string> ListVideoDevices() {
  ComApartment com;
  std::vector<std::string> names;
  ForEachCamera([&](int, IMoniker*, const std::string* name) {
    if (name != nullptr) names.push_back(*name);
    return true;
  });
  return names;
}

std::vector<SoundListEntry> ListSoundDevices() {
  ComApartment com;
  std::vector<SoundListEntry> list;
  SoundListing listing{&list, &TheAudioDeviceTable()};
  DirectSoundCaptureEnumerateA(ListSoundDevice, &listing);
  return list;
}

}  // namespace quillon
