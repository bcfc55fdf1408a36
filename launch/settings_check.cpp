#include "launch/settings_check.h"

#include <limits>
#include <optional>

#include "base/picture_type.h"

namespace quillon {
namespace {

std::string Bad(const char* key, int32_t value, const std::string& need) {
  return std::string("config.ini 中 ") + key + "=" + std::to_string(value) + " 无效, 需要 " + need;
}

std::string Range(int64_t low, int64_t high) {
  return std::to_string(low) + " 到 " + std::to_string(high);
}

// Checks low <= value <= high; without high there is no upper bound.
std::string CheckRange(const char* key, int32_t value, int32_t low,
                       int32_t high = std::numeric_limits<int32_t>::max()) {
  if (value >= low && value <= high) return {};
  if (high == std::numeric_limits<int32_t>::max()) {
    return Bad(key, value, std::to_string(low) + " 或更大");
  }
  return Bad(key, value, Range(low, high));
}

std::string CheckPicture(const char* width_key, int32_t width, const char* height_key,
                         int32_t height, int32_t smallest) {
  if (std::string m = CheckRange(width_key, width, smallest, kMaxPictureSide); !m.empty()) return m;
  if (std::string m = CheckRange(height_key, height, smallest, kMaxPictureSide); !m.empty()) {
    return m;
  }
  if (int64_t{width} * height > kMaxPicturePixels) {
    return std::string("config.ini 中 ") + width_key + "=" + std::to_string(width) + ", " +
           height_key + "=" + std::to_string(height) + " 画面太大, 最多 " +
           std::to_string(kMaxPicturePixels) + " 像素 (7680 x 4320)";
  }
  return {};
}

std::string CheckScreen(int32_t width, int32_t height) {
  return CheckPicture("ScreenWidth", width, "ScreenHeight", height, 4);
}

}  // namespace

bool UsableScreenSize(int32_t width, int32_t height) {
  return CheckScreen(width, height).empty();
}

std::string CheckClassSettings(const PublisherSettings& s) {
  const std::optional<PictureType> picture = PictureTypeFromVideoStyle(s.VideoStyle);
  const bool uses_screen = picture && UsesDesktop(*picture);
  // A VideoStyle outside the list still sizes the encoder by the camera.
  const bool uses_camera = !picture || UsesCamera(*picture);
  const bool has_inset = picture && HasInset(*picture);
  std::string m;
  if (!(m = CheckRange("FrameRate", s.FrameRate, 1, kMaxFrameRate)).empty()) return m;
  if (!(m = CheckRange("Bitrate", s.Bitrate, 1, 100000)).empty()) return m;
  if (uses_screen && !(m = CheckScreen(s.ScreenWidth, s.ScreenHeight)).empty()) return m;
  if (uses_camera &&
      !(m = CheckPicture("VideoWidth", s.VideoWidth, "VideoHeight", s.VideoHeight, 1)).empty()) {
    return m;
  }
  if (has_inset) {
    if (!(m = CheckRange("ScreenRate", s.ScreenRate, 1, 100)).empty()) return m;
    if (!(m = CheckRange("VideoX", s.VideoX, 0)).empty()) return m;
    if (!(m = CheckRange("VideoY", s.VideoY, 0)).empty()) return m;
  }
  if (s.HaveAudio != 0) {
    if (!(m = CheckRange("SamplesPerSec", s.SamplesPerSec, 8000, 192000)).empty()) return m;
    if (s.BitsPerSample != 8 && s.BitsPerSample != 16 && s.BitsPerSample != 24 &&
        s.BitsPerSample != 32) {
      return Bad("BitsPerSample", s.BitsPerSample, "8、16、24 或 32");
    }
    if (!(m = CheckRange("Chanels", s.Chanels, 1, 8)).empty()) return m;
  }
  return {};
}

}  // namespace quillon
