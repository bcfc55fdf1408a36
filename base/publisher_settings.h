// The one settings record of the publisher, filled from config.ini.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillon {

// The identifier of one sound-capture device: the 16-byte GUID on Windows, the source name on
// PulseAudio. Lives in the process-wide device table, whose slots never move.
struct AudioDeviceId {
  std::array<uint8_t, 16> Guid{};
  std::string Name;
};

// AudioDevice when the sound list has no selection (the list's error value, all bits set).
inline const AudioDeviceId* NoAudioSelection() {
  return reinterpret_cast<const AudioDeviceId*>(~uintptr_t{0});
}

// Every field named like a config.ini key is filled from that key. Fields in file order.
struct PublisherSettings {
  int32_t DeviceID = 0;    // camera position in the camera list, -1 for none
  int32_t VideoStyle = 0;  // as stored: any number; PictureTypeFromVideoStyle reads it
  int32_t VideoWidth = 0;  // camera picture size
  int32_t VideoHeight = 0;
  int32_t VideoX = 0;  // inset position: pixels from the left, rows from the bottom
  int32_t VideoY = 0;
  int32_t ScreenWidth = 0;  // desktop picture size, multiples of 4 once read when usable
  int32_t ScreenHeight = 0;
  // ScreenWidth or ScreenHeight is 0 in config.ini: the whole primary display, whose size the
  // display gave above, or the desktop's own once the class has it ready (a shared monitor).
  bool ScreenFollowsDisplay = false;
  int32_t ScreenRate = 0;  // inset size = large picture size / ScreenRate
  int32_t FrameRate = 0;   // pictures per second
  int32_t Interval = 0;    // handed to the encoder
  int32_t Quality = 0;     // handed to the encoder
  int32_t Bitrate = 0;     // kilobits per second
  std::string Address;     // as stored, that is scrambled (at most 99 bytes)
  std::string PublishUrl;  // descrambled Address before its last "&"
  // The chosen sound device: an entry of the device table, nullptr for an entry without
  // identifier, or NoAudioSelection(). Only an identifier opens a device.
  const AudioDeviceId* AudioDevice = nullptr;
  int32_t HaveAudio = 0;
  int32_t Record = 0;  // handed to the encoder
  int32_t SamplesPerSec = 0;
  int32_t BitsPerSample = 0;
  int32_t Chanels = 0;  // the key is spelled "Chanels"
  // [Device] TrustedCA: a PEM file of a school's own certificate authorities, which rtmps://
  // trusts besides the system's; relative to the program's folder. Empty: the system's alone.
  std::string TrustedCA;
};

}  // namespace quillon
