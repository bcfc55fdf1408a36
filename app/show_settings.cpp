#include "app/show_settings.h"

#include <optional>
#include <system_error>

#include "base/log.h"
#include "base/user_messages.h"
#include "launch/settings_check.h"

namespace quillon {
namespace {

// Passes the question on and remembers whether it went unanswered.
class WatchedDisplay : public DisplayInfo {
 public:
  explicit WatchedDisplay(const DisplayInfo& display) : display_(display) {}
  std::optional<ScreenSize> PrimarySize() const override {
    std::optional<ScreenSize> size = display_.PrimarySize();
    asked_ = true;
    unanswered_ = !size;
    return size;
  }
  std::string WhyUnavailable() const override { return display_.WhyUnavailable(); }
  bool asked() const { return asked_; }
  bool unanswered() const { return unanswered_; }

 private:
  const DisplayInfo& display_;
  mutable bool asked_ = false;
  mutable bool unanswered_ = false;
};

}  // namespace

std::string FormatSettings(const PublisherSettings& s, std::string_view stream_name) {
  std::string text;
  const auto line = [&](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += value;
    text += '\n';
  };
  const auto number = [&](const char* key, int32_t value) { line(key, std::to_string(value)); };
  number("DeviceID", s.DeviceID);
  number("VideoStyle", s.VideoStyle);
  number("VideoWidth", s.VideoWidth);
  number("VideoHeight", s.VideoHeight);
  number("VideoX", s.VideoX);
  number("VideoY", s.VideoY);
  number("ScreenWidth", s.ScreenWidth);
  number("ScreenHeight", s.ScreenHeight);
  number("ScreenRate", s.ScreenRate);
  number("FrameRate", s.FrameRate);
  number("Interval", s.Interval);
  number("Quality", s.Quality);
  number("Bitrate", s.Bitrate);
  line("Address", s.Address);
  line("PublishUrl", s.PublishUrl);
  number("HaveAudio", s.HaveAudio);
  number("Record", s.Record);
  number("SamplesPerSec", s.SamplesPerSec);
  number("BitsPerSample", s.BitsPerSample);
  number("Chanels", s.Chanels);
  line("TrustedCA", s.TrustedCA);
  line("StreamName", std::string(stream_name));
  return text;
}

int ShowSettings(const DisplayInfo& display, std::ostream& out, std::ostream& err,
                 const std::filesystem::path& file) {
  std::error_code error;
  LogInfo("settings file: %s",
          std::filesystem::absolute(file, error).lexically_normal().string().c_str());
  if (!std::filesystem::exists(file, error)) {
    LogWarning("%s does not exist; every value reads as 0",
               std::filesystem::absolute(file, error).lexically_normal().string().c_str());
  }
  WatchedDisplay watched(display);
  StreamMessages messages(err);
  WindowSettings window;
  const bool read = ReadSettings(window, watched, messages, file);
  if (!window.Record) return 2;  // nothing read: messages and the log have said why
  if (watched.unanswered()) {
    LogWarning(
        "cannot ask for the screen size (%s); ScreenWidth and ScreenHeight are shown as "
        "config.ini holds them",
        watched.WhyUnavailable().c_str());
  }
  if (watched.asked() && !watched.unanswered()) {
    LogInfo("ScreenWidth or ScreenHeight is 0 in config.ini: a class publishes the whole primary "
            "display, %dx%d",
            window.Record->ScreenWidth, window.Record->ScreenHeight);
  }
  out << FormatSettings(*window.Record, window.StreamName) << std::flush;
  if (!read) return 2;
  if (std::string problem = CheckClassSettings(*window.Record); !problem.empty()) {
    LogWarning("a class cannot start with these settings: %s", problem.c_str());
  }
  return 0;
}

}  // namespace quillon
