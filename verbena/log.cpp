#include "verbena/log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace verbena {

void Log(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "verbena: %s\n", line);
}

void LogTiming(const char* what) {
  static const bool on = [] {
    const char* value = std::getenv("VERBENA_TIMING");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  if (!on) return;
  const long long micro = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
  Log("timing %lld.%06lld %s", micro / 1000000, micro % 1000000, what);
}

namespace {

thread_local FfmpegActivity* tActivity = nullptr;

}  // namespace

FfmpegActivity::FfmpegActivity(void (*onMessage)(void* context), void* context)
    : outer_(tActivity), onMessage_(onMessage), context_(context) {
  tActivity = this;
}

FfmpegActivity::~FfmpegActivity() {
  tActivity = outer_;
}

void NoteFfmpegActivity() {
  if (tActivity != nullptr) tActivity->onMessage_(tActivity->context_);
}

namespace {

int LevelFromEnvironment() {
  const char* name = std::getenv("VERBENA_FFMPEG_LOG");
  if (name == nullptr) return AV_LOG_ERROR;
  if (std::strcmp(name, "warning") == 0) return AV_LOG_WARNING;
  if (std::strcmp(name, "info") == 0) return AV_LOG_INFO;
  if (std::strcmp(name, "verbose") == 0) return AV_LOG_VERBOSE;
  if (std::strcmp(name, "debug") == 0) return AV_LOG_DEBUG;
  return AV_LOG_ERROR;
}

void FfmpegLogLine(void* object, int level, const char* format, va_list args) {
  NoteFfmpegActivity();
  if (level > av_log_get_level()) return;
  // FFmpeg's own formatter adds the "[component @ address]" context; keep one line per message.
  char line[1024];
  int printPrefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
  size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
  if (length > 0) std::fprintf(stderr, "verbena: ffmpeg: %s\n", line);
}

}  // namespace

void InstallFfmpegLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(LevelFromEnvironment());
    av_log_set_callback(FfmpegLogLine);
  });
}

}  // namespace verbena
