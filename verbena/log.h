// Diagnostics of the encoder library: one line each on stderr, prefixed "verbena:".
#pragma once

namespace verbena {

// printf-style; adds the prefix and the line end.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// With VERBENA_TIMING=1 in the environment, "timing SECONDS WHAT" (the wall clock since 1970, to
// the microsecond) for the steps of a start, so that a script can tell where its time goes;
// nothing otherwise.
void LogTiming(const char* what);

// Routes FFmpeg's own messages through Log, errors only unless VERBENA_FFMPEG_LOG names a level
// ("warning", "info", "verbose", "debug"). Safe to call many times.
void InstallFfmpegLog();

class FfmpegActivity;
// Called for each FFmpeg message: tells the thread's innermost FfmpegActivity, if any.
void NoteFfmpegActivity();

// While one lives, every message FFmpeg gives on this thread (of any level, shown or not) calls
// onMessage first: FFmpeg tells each step of a connection, so a message is a sign of progress.
class FfmpegActivity {
 public:
  explicit FfmpegActivity(void (*onMessage)(void* context), void* context);
  ~FfmpegActivity();
  FfmpegActivity(const FfmpegActivity&) = delete;
  FfmpegActivity& operator=(const FfmpegActivity&) = delete;

 private:
  FfmpegActivity* outer_;
  void (*onMessage_)(void*);
  void* context_;
  friend void NoteFfmpegActivity();
};

}  // namespace verbena
