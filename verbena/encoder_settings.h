// Checks the caller's EncoderParams and turns them into the values the encoders and the
// connection use. Pure logic: no FFmpeg, no clock.
#pragma once

#include <cstdint>
#include <string>

#include "verbena/verbena.h"

namespace verbena {

struct SoundSettings {
  bool enabled = false;      // false: publish pictures only
  int samplesPerSecond = 0;  // as given
  int bitsPerSample = 0;     // 8 (unsigned) or 16 (signed little-endian)
  int channels = 0;          // 1 or 2
  int blockBytes = 0;        // bytes of one sample frame: channels x bits / 8
  int bitrate = 0;           // AAC bits per second
};

struct EncoderSettings {
  std::string url;         // rtmp:// or rtmps:// address
  std::string streamName;  // last part of the address, for the recording's file name
  int width = 0;           // of the pictures the caller sends
  int height = 0;
  int encodedWidth = 0;  // even sizes for 4:2:0; an odd last column or bottom row is left out
  int encodedHeight = 0;
  int pictureBytes = 0;  // width x height x 3
  int frameRate = 0;
  int keyframeInterval = 0;  // in pictures
  int bitrateKbps = 0;
  const char* preset = "veryfast";  // x264 preset that Quality chose
  bool record = false;
  SoundSettings sound;
  int soundNotifyBytes = 0;  // 1024 sample frames of PCM as given
};

// The x264 preset for a Quality value: 0 = ultrafast ... 2 = veryfast (the balanced default) ...
// 8 = veryslow; values outside 0..8 are clamped.
const char* PresetForQuality(int quality);

// Stream name from an RTMP address: the last path segment without an "mp4:"-style prefix and
// without its extension, reduced to letters, digits, '-', '_' and '.'; "class" when nothing is
// left.
std::string StreamNameFromUrl(const std::string& url);

// AAC sample rates that FLV carries.
bool IsAacSampleRate(int samplesPerSecond);

// Bytes of PCM per sound block the library wants: 1024 sample frames. Never below 1024.
int SoundNotifyBytes(int bitsPerSample, int channels);

struct CheckResult {
  bool ok = false;
  std::string error;             // why the parameters cannot be used (ok false)
  std::string soundWarning;      // why sound is left out (ok true, sound.enabled false)
  bool addressUnusable = false;  // ok false because of the address
  EncoderSettings settings;
};

CheckResult CheckParams(const EncoderParams& params);

}  // namespace verbena
