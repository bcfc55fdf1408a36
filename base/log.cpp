#include "base/log.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>

namespace quillon {
namespace {

// Guards the capture in use and the writes, so that each line leaves whole.
std::mutex g_writeMutex;
LogCapture* g_capture = nullptr;
std::atomic<bool> g_timing{false};

std::string FormatLine(const char* format, va_list arguments) {
  std::string line = kLogPrefix;
  const std::size_t prefixLength = line.size();
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    line.resize(prefixLength + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(line.data() + prefixLength, static_cast<std::size_t>(length) + 1, format,
                   arguments);
    line.resize(prefixLength + static_cast<std::size_t>(length));
  }
  line += '\n';
  return line;
}

void Write(LogLevel level, const char* format, va_list arguments) {
  std::string line = FormatLine(format, arguments);
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  if (g_capture != nullptr) {
    g_capture->Add(level, std::move(line));
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void LogLine(LogLevel level, const char* format, ...) QUILLON_PRINTF_FORMAT(2, 3);
void LogLine(LogLevel level, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Write(level, format, arguments);
  va_end(arguments);
}

}  // namespace

void LogError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Write(LogLevel::kError, format, arguments);
  va_end(arguments);
}

void LogWarning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Write(LogLevel::kWarning, format, arguments);
  va_end(arguments);
}

void LogInfo(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Write(LogLevel::kInfo, format, arguments);
  va_end(arguments);
}

void EnableTimingLog(bool on) {
  g_timing = on;
}

void LogTiming(const char* what) {
  if (!g_timing) return;
  const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const long long micro = since1970.count();
  LogLine(LogLevel::kTiming, "timing %lld.%06lld %s", micro / 1000000, micro % 1000000, what);
}

LogCapture::LogCapture() {
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  g_capture = this;
}

LogCapture::~LogCapture() {
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  g_capture = nullptr;
}

std::vector<std::pair<LogLevel, std::string>> LogCapture::Lines() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::string LogCapture::Text() const {
  std::string text;
  for (const auto& [level, line] : Lines()) text += line;
  return text;
}

void LogCapture::Add(LogLevel level, std::string line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  lines_.emplace_back(level, std::move(line));
}

}  // namespace quillon
