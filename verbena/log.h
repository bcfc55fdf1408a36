// Diagnostics of the encoder library: one line each on stderr, prefixed "verbena:".
#pragma once

namespace verbena {

// printf-style; adds the prefix and the line end.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Routes FFmpeg's own messages through Log, errors only unless VERBENA_FFMPEG_LOG names a level
// ("warning", "info", "verbose", "debug"). Safe to call many times.
void InstallFfmpegLog();

}  // namespace verbena
