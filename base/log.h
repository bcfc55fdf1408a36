// The program's log: one line on standard error per call, "quillon-publisher: " and the text.
// Lines from different threads never mix. The level says what a line is; every level is written.
// What the user must answer or see in the window goes through UserMessages instead, and what a
// command prints as its result (--help, --list-devices, ...) goes to standard output.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#if defined(__MINGW32__)
#define QUILLON_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define QUILLON_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

namespace quillon {

enum class LogLevel { kError, kWarning, kInfo, kTiming };

inline constexpr char kLogPrefix[] = "quillon-publisher: ";

// Writes kLogPrefix, the printf-formatted text and a line end as one write. The text may hold
// line ends of its own (a hint on the next line); they are written as they are.
void LogError(const char* format, ...) QUILLON_PRINTF_FORMAT(1, 2);
void LogWarning(const char* format, ...) QUILLON_PRINTF_FORMAT(1, 2);
void LogInfo(const char* format, ...) QUILLON_PRINTF_FORMAT(1, 2);

// Milestones of the program's start and of a class's start, for bench/startup_latency: written
// only while timing is on (main turns it on when QUILLON_TIMING=1 is in the environment), as
// "timing SECONDS WHAT", SECONDS being the wall clock since 1970 to the microsecond, so that a
// script can set them beside its own clock. Quiet by default.
void EnableTimingLog(bool on);
void LogTiming(const char* what);

// For tests: while one exists, log lines are kept here, with their level, instead of being
// written to standard error. One at a time.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Each line as it would have been written, prefix and line end included.
  std::vector<std::pair<LogLevel, std::string>> Lines() const;
  // All lines together, as standard error would have shown them.
  std::string Text() const;

  void Add(LogLevel level, std::string line);

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<LogLevel, std::string>> lines_;
};

}  // namespace quillon
