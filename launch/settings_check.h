// The values a class needs from the settings record before any buffer, timer or encoder exists.
#pragma once

#include <cstdint>
#include <string>

#include "base/publisher_settings.h"

namespace quillon {

// Largest picture: 8K UHD. Keeps every frame size (width x height x 3) far inside int32.
inline constexpr int32_t kMaxPictureSide = 7680;
inline constexpr int64_t kMaxPicturePixels = int64_t{7680} * 4320;
inline constexpr int32_t kMaxFrameRate = 60;

// Returns "" when a class can run on these settings, otherwise a message for the teacher that
// names the first unusable key of config.ini, its value and what it needs, for example
// "config.ini 中 FrameRate=0 无效, 需要 1 到 60". Only values the picture type uses are checked:
// the desktop size for types 0, 2 and 3, the camera size for every type but 0, the inset's
// ScreenRate, VideoX and VideoY for types 2 and 3, the sound format when HaveAudio is set.
std::string CheckClassSettings(const PublisherSettings& settings);

// Whether a class can use a desktop picture of this size: what CheckClassSettings asks of
// ScreenWidth and ScreenHeight.
bool UsableScreenSize(int32_t width, int32_t height);

}  // namespace quillon
