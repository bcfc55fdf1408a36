#include "verbena/encoder_settings.h"

#include <algorithm>
#include <cstring>

namespace verbena {

namespace {

constexpr int kMaxSide = 8192;
constexpr int kMaxFrameRate = 120;
constexpr int kMaxBitrateKbps = 100000;
constexpr int kMaxIntervalSeconds = 3600;
constexpr int kDefaultIntervalSeconds = 2;
constexpr int kAacFrameSamples = 1024;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

const char* PresetForQuality(int quality) {
  static const char* const kPresets[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                         "medium",    "slow",      "slower",   "veryslow"};
  constexpr int kLast = static_cast<int>(sizeof kPresets / sizeof kPresets[0]) - 1;
  return kPresets[std::clamp(quality, 0, kLast)];
}

std::string StreamNameFromUrl(const std::string& url) {
  std::string name = url;
  size_t query = name.find_first_of("?#");
  if (query != std::string::npos) name.resize(query);
  while (!name.empty() && name.back() == '/') name.pop_back();
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t colon = name.rfind(':');
  if (colon != std::string::npos) name.erase(0, colon + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  for (char& c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  if (name.empty() || name.find_first_not_of("._") == std::string::npos) return "class";
  return name;
}

bool IsAacSampleRate(int samplesPerSecond) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                               24000, 22050, 16000, 12000, 11025, 8000};
  return std::find(std::begin(kRates), std::end(kRates), samplesPerSecond) != std::end(kRates);
}

int SoundNotifyBytes(int bitsPerSample, int channels) {
  int block = 0;
  if (bitsPerSample > 0 && bitsPerSample <= 64 && channels > 0 && channels <= 16)
    block = channels * ((bitsPerSample + 7) / 8);
  return kAacFrameSamples * std::max(block, 1);
}

CheckResult CheckParams(const EncoderParams& params) {
  CheckResult result;
  EncoderSettings& s = result.settings;
  auto fail = [&result](std::string why) {
    result.ok = false;
    result.error = std::move(why);
    return result;
  };
  auto failAddress = [&](std::string why) {
    result.addressUnusable = true;
    return fail(std::move(why));
  };

  if (params.FormatCode != VERBENA_FORMAT_BGR24_BOTTOM_UP)
    return fail("FormatCode " + std::to_string(params.FormatCode) +
                " is not supported (only 4103, 24-bit BGR bottom-up)");
  if (params.Width < 2 || params.Height < 2 || params.Width > kMaxSide || params.Height > kMaxSide)
    return fail("picture size " + std::to_string(params.Width) + "x" +
                std::to_string(params.Height) + " is outside 2x2..8192x8192");
  if (params.FrameRate < 1 || params.FrameRate > kMaxFrameRate)
    return fail("FrameRate " + std::to_string(params.FrameRate) + " is outside 1..120");
  if (params.Bitrate < 1)
    return fail("Bitrate " + std::to_string(params.Bitrate) + " kbps is not positive");

  const void* end = std::memchr(params.Url, 0, sizeof params.Url);
  if (end == nullptr) return failAddress("Url is not NUL-terminated within its 256 bytes");
  s.url = params.Url;
  if (!StartsWith(s.url, "rtmp://") && !StartsWith(s.url, "rtmps://"))
    return failAddress("Url \"" + s.url + "\" is not an rtmp:// address");
  if (s.url.find_first_of(" \t\r\n") != std::string::npos)
    return failAddress("Url \"" + s.url + "\" contains white space");
  std::string afterScheme = s.url.substr(s.url.find("//") + 2);
  size_t hostEnd = afterScheme.find('/');
  if (hostEnd == 0 || hostEnd == std::string::npos || hostEnd + 1 >= afterScheme.size())
    return failAddress("Url \"" + s.url + "\" names no host or no application");
  s.streamName = StreamNameFromUrl(s.url);

  s.width = params.Width;
  s.height = params.Height;
  s.encodedWidth = params.Width & ~1;
  s.encodedHeight = params.Height & ~1;
  s.pictureBytes = params.Width * params.Height * 3;
  s.frameRate = params.FrameRate;
  int interval = params.Interval > 0 ? std::min(params.Interval, kMaxIntervalSeconds)
                                     : kDefaultIntervalSeconds;
  s.keyframeInterval = interval * params.FrameRate;
  s.bitrateKbps = std::min(params.Bitrate, kMaxBitrateKbps);
  s.preset = PresetForQuality(params.Quality);
  s.record = params.Record != 0;

  SoundSettings& sound = s.sound;
  sound.samplesPerSecond = params.SamplesPerSec;
  sound.bitsPerSample = params.BitsPerSample;
  sound.channels = params.Chanels;
  s.soundNotifyBytes = SoundNotifyBytes(params.BitsPerSample, params.Chanels);
  if (params.BitsPerSample != 8 && params.BitsPerSample != 16) {
    result.soundWarning = "BitsPerSample " + std::to_string(params.BitsPerSample) +
                          " is not 8 or 16: publishing without sound";
  } else if (params.Chanels != 1 && params.Chanels != 2) {
    result.soundWarning =
        "Chanels " + std::to_string(params.Chanels) + " is not 1 or 2: publishing without sound";
  } else if (!IsAacSampleRate(params.SamplesPerSec)) {
    result.soundWarning = "SamplesPerSec " + std::to_string(params.SamplesPerSec) +
                          " is not an AAC sample rate: publishing without sound";
  } else {
    sound.enabled = true;
    sound.blockBytes = params.Chanels * params.BitsPerSample / 8;
    sound.bitrate = 64000 * params.Chanels;
  }
  result.ok = true;
  return result;
}

}  // namespace verbena
