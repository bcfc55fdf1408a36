#include "launch/settings.h"

#include <array>
#include <optional>
#include <tuple>

#include "base/atomic_file.h"
#include "base/log.h"
#include "launch/profile_file.h"
#include "launch/settings_check.h"
#include "resources/shipped_settings.h"

namespace quillon {
namespace {

// Changes byte i by (i mod 3) + 1 in the given direction, stopping at a zero byte.
std::string ShiftAddress(std::string_view text, int direction) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
    const int step = static_cast<int>(i % 3) + 1;
    const auto byte =
        static_cast<unsigned char>(static_cast<unsigned char>(text[i]) + direction * step);
    if (byte == 0) break;
    result += static_cast<char>(byte);
  }
  return result;
}

}  // namespace

std::string ScrambleAddress(std::string_view plain) {
  return ShiftAddress(plain, +1);
}
std::string DescrambleAddress(std::string_view stored) {
  return ShiftAddress(stored, -1);
}

bool SplitAddress(std::string_view plain, std::string& publish_url, std::string& stream_name) {
  const std::size_t amp = plain.rfind('&');
  if (amp == std::string_view::npos) {
    publish_url.clear();
    stream_name = plain;
    return false;
  }
  publish_url = plain.substr(0, amp);
  stream_name = plain.substr(amp + 1);
  return true;
}

int32_t RoundDownToMultipleOf4(int32_t size) {
  while (size % 4 != 0) --size;  // the lowest int32 is a multiple of 4, so this stops in time
  return size;
}

bool ReadSettings(WindowSettings& window, const DisplayInfo& display, UserMessages& messages,
                  const std::filesystem::path& file) {
  std::string why;
  const std::optional<ProfileText> read = ReadProfile(file, why);
  if (!read) {
    LogWarning("cannot read %s: %s", file.string().c_str(), why.c_str());
    messages.Show(kSettingsUnreadableMessage);
    return false;
  }
  const ProfileText& profile = *read;
  if (!window.Record) window.Record = std::make_unique<PublisherSettings>();
  PublisherSettings& s = *window.Record;

  s.Address = profile.GetString("Device", "Address", "", kAddressCapacity);
  s.TrustedCA = profile.GetString("Device", "TrustedCA", "", 4096);
  struct IntKey {
    const char* section;
    const char* key;
    int32_t PublisherSettings::*field;
  };
  static constexpr std::array<IntKey, 18> kIntKeys = {{
      {"Device", "DeviceID", &PublisherSettings::DeviceID},
      {"Device", "VideoWidth", &PublisherSettings::VideoWidth},
      {"Device", "VideoHeight", &PublisherSettings::VideoHeight},
      {"Device", "Interval", &PublisherSettings::Interval},
      {"Device", "Quality", &PublisherSettings::Quality},
      {"Device", "Bitrate", &PublisherSettings::Bitrate},
      {"Device", "FrameRate", &PublisherSettings::FrameRate},
      {"Device", "HaveAudio", &PublisherSettings::HaveAudio},
      {"Device", "Record", &PublisherSettings::Record},
      {"Audio", "SamplesPerSec", &PublisherSettings::SamplesPerSec},
      {"Audio", "BitsPerSample", &PublisherSettings::BitsPerSample},
      {"Audio", "Chanels", &PublisherSettings::Chanels},
      {"Device", "ScreenWidth", &PublisherSettings::ScreenWidth},
      {"Device", "ScreenHeight", &PublisherSettings::ScreenHeight},
      {"Device", "VideoX", &PublisherSettings::VideoX},
      {"Device", "VideoY", &PublisherSettings::VideoY},
      {"Device", "VideoStyle", &PublisherSettings::VideoStyle},
      {"Device", "ScreenRate", &PublisherSettings::ScreenRate},
  }};
  for (const IntKey& k : kIntKeys) s.*k.field = profile.GetInt(k.section, k.key, 0);

  s.ScreenFollowsDisplay = s.ScreenWidth == 0 || s.ScreenHeight == 0;
  if (s.ScreenFollowsDisplay) {
    if (std::optional<ScreenSize> size = display.PrimarySize()) {
      s.ScreenWidth = size->Width;
      s.ScreenHeight = size->Height;
    }
  }
  const int32_t width = RoundDownToMultipleOf4(s.ScreenWidth);
  const int32_t height = RoundDownToMultipleOf4(s.ScreenHeight);
  if (UsableScreenSize(width, height)) {
    s.ScreenWidth = width;
    s.ScreenHeight = height;
  }

  window.Choices = {s.HaveAudio, s.DeviceID, s.Bitrate, s.VideoStyle};

  if (!SplitAddress(DescrambleAddress(s.Address), s.PublishUrl, window.StreamName)) {
    messages.Show(kBadAddressMessage);
    return false;
  }
  return true;
}

bool RestoreMissingSettings(const std::filesystem::path& file, UserMessages& messages) {
  std::error_code error;
  if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::not_found)
    return true;
  LogWarning("%s is missing; making it again from the shipped default", file.string().c_str());
  if (!ReplaceFileAtomically(file, ShippedSettingsText())) return false;
  messages.Show(kSettingsRestoredMessage);
  return true;
}

bool WriteBackSettings(const WindowSettings& window, const std::filesystem::path& file) {
  if (!window.Record) return true;  // nothing read yet, so nothing can differ
  const PublisherSettings& s = *window.Record;
  const WindowChoices& c = window.Choices;
  const std::array<std::tuple<const char*, int32_t, int32_t>, 4> pairs = {{
      {"HaveAudio", c.HaveAudio, s.HaveAudio},
      {"DeviceID", c.DeviceID, s.DeviceID},
      {"Bitrate", c.Bitrate, s.Bitrate},
      {"VideoStyle", c.VideoStyle, s.VideoStyle},
  }};
  for (const auto& [key, chosen, stored] : pairs) {
    if (chosen != stored && !WriteProfileString(file, "Device", key, std::to_string(chosen))) {
      return false;
    }
  }
  return true;
}

void ChoiceWriter::WriteBack(const WindowSettings& window, const std::filesystem::path& file) {
  if (WriteBackSettings(window, file) || told_) return;
  told_ = true;
  messages_.Show(kSettingsNotSavedMessage);
}

}  // namespace quillon
