// The values a class needs from the settings record before any buffer, timer or encoder exists.
#pragma once

#include <cstdint>
#include <string>

#include "base/publisher_settings.h"

namespace quillon {

// The encoder library's limits: a side of at most 8192 pixels (every frame, width x height x 3,
// stays far inside int32) and at most 120 pictures a second.
inline constexpr int32_t kMaxPictureSide = 8192;
inline constexpr int32_t kMaxFrameRate = 120;

// Returns "" when a class can run on these settings, otherwise a message for the teacher that
// names the first unusable key of config.ini, its value and what it needs, for example
// "config.ini 中 FrameRate=0 无效, 需要 1 到 120". Refused are only values that would divide by
// zero, reach past a picture, or make the encoder library refuse the class; only values the
// picture type uses are checked: the desktop size for types 0, 2 and 3, the camera size for every
// type but 0, the inset's ScreenRate, VideoX and VideoY for types 2 and 3. The sound format is
// not: a class whose sound cannot be published runs without it (CheckSoundSettings).
std::string CheckClassSettings(const PublisherSettings& settings);

// "" when sound in this format can be captured and published, otherwise a message that names the
// first key that stands in the way and the values sound needs. HaveAudio is not looked at.
std::string CheckSoundSettings(const PublisherSettings& settings);

// What a class needs of a bit rate, in kb/s: "" or the range it must lie in.
std::string BitrateRange(int32_t kbps);

// Whether a class can use a desktop picture of this size: what CheckClassSettings asks of
// ScreenWidth and ScreenHeight.
bool UsableScreenSize(int32_t width, int32_t height);

}  // namespace quillon
