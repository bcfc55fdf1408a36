#include "launch/settings_check.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/picture_type.h"

namespace quillon {
namespace {

std::string Bad(const char* key, int32_t value, const std::string& need) {
  return std::string("config.ini 中 ") + key + "=" + std::to_string(value) + " 无效, 需要 " + need;
}

// "low 到 high", or "low 或更大" without an upper bound.
std::string Range(int32_t low, int32_t high) {
  if (high == std::numeric_limits<int32_t>::max()) return std::to_string(low) + " 或更大";
  return std::to_string(low) + " 到 " + std::to_string(high);
}

std::string CheckRange(const char* key, int32_t value, int32_t low,
                       int32_t high = std::numeric_limits<int32_t>::max()) {
  if (value >= low && value <= high) return {};
  return Bad(key, value, Range(low, high));
}

std::string CheckPicture(const char* width_key, int32_t width, const char* height_key,
                         int32_t height, int32_t smallest) {
  if (std::string m = CheckRange(width_key, width, smallest, kMaxPictureSide); !m.empty()) return m;
  return CheckRange(height_key, height, smallest, kMaxPictureSide);
}

// The desktop picture: its sides are multiples of 4 once read.
std::string CheckScreen(int32_t width, int32_t height) {
  return CheckPicture("ScreenWidth", width, "ScreenHeight", height, 4);
}

// The sampling rates the AAC encoder takes.
constexpr int32_t kSoundRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                                   32000, 44100, 48000, 64000, 88200, 96000};

std::string CannotSound(const char* key, int32_t value, const char* need) {
  return std::string("config.ini 中 ") + key + "=" + std::to_string(value) +
         " 不能用于声音, 需要 " + need + "。这节课不发送声音。";
}

}  // namespace

bool UsableScreenSize(int32_t width, int32_t height) {
  return CheckScreen(width, height).empty();
}

std::string BitrateRange(int32_t kbps) {
  return kbps >= 1 ? "" : Range(1, std::numeric_limits<int32_t>::max());
}

std::string CheckClassSettings(const PublisherSettings& s) {
  const std::optional<PictureType> picture = PictureTypeFromVideoStyle(s.VideoStyle);
  const bool uses_screen = picture && UsesDesktop(*picture);
  // A VideoStyle outside the list still sizes the encoder by the camera.
  const bool uses_camera = !picture || UsesCamera(*picture);
  const bool has_inset = picture && HasInset(*picture);
  // The encoder takes pictures of at least 2 x 2; a camera inset may be smaller.
  const bool camera_is_encoded = !picture || LargePictureOf(*picture) == LargePicture::kCamera;
  // The whole display, but no display answered (a Wayland session without XWayland): the size
  // comes from the shared monitor when the class starts, and is checked there.
  const bool size_at_start = s.ScreenFollowsDisplay && s.ScreenWidth == 0 && s.ScreenHeight == 0;
  std::string m;
  if (!(m = CheckRange("FrameRate", s.FrameRate, 1, kMaxFrameRate)).empty()) return m;
  if (std::string need = BitrateRange(s.Bitrate); !need.empty())
    return Bad("Bitrate", s.Bitrate, need);
  if (uses_screen && !size_at_start && !(m = CheckScreen(s.ScreenWidth, s.ScreenHeight)).empty())
    return m;
  if (uses_camera && !(m = CheckPicture("VideoWidth", s.VideoWidth, "VideoHeight", s.VideoHeight,
                                        camera_is_encoded ? 2 : 1))
                          .empty()) {
    return m;
  }
  if (has_inset) {
    // The inset is the large picture divided by ScreenRate: at least 1 x 1.
    const bool screen_large = LargePictureOf(*picture) == LargePicture::kDesktop;
    const int32_t shorter = !screen_large   ? std::min(s.VideoWidth, s.VideoHeight)
                            : size_at_start ? std::numeric_limits<int32_t>::max()
                                            : std::min(s.ScreenWidth, s.ScreenHeight);
    if (!(m = CheckRange("ScreenRate", s.ScreenRate, 1, shorter)).empty()) return m;
    if (!(m = CheckRange("VideoX", s.VideoX, 0)).empty()) return m;
    if (!(m = CheckRange("VideoY", s.VideoY, 0)).empty()) return m;
  }
  return {};
}

std::string CheckSoundSettings(const PublisherSettings& s) {
  if (std::find(std::begin(kSoundRates), std::end(kSoundRates), s.SamplesPerSec) ==
      std::end(kSoundRates)) {
    return CannotSound("SamplesPerSec", s.SamplesPerSec,
                       "8000 到 96000 之间的标准采样率 (如 44100 或 48000)");
  }
  if (s.BitsPerSample != 8 && s.BitsPerSample != 16)
    return CannotSound("BitsPerSample", s.BitsPerSample, "8 或 16");
  if (s.Chanels != 1 && s.Chanels != 2) return CannotSound("Chanels", s.Chanels, "1 或 2");
  return {};
}

}  // namespace quillon
