// The encoder parameters that tests start from: the shipped config.ini's choices (15 frames/s,
// key frame every 2 s, 500 kbit/s, 44.1 kHz 16-bit stereo sound) at a size and address of the
// test's own. Tests change the fields their case is about.
#pragma once

#include <cstdio>

#include "verbena/verbena.h"

inline EncoderParams TestEncoderParams(const char* url = "", int width = 320, int height = 240) {
  EncoderParams params{};
  params.Width = width;
  params.Height = height;
  params.FormatCode = 4103;
  params.FrameRate = 15;
  params.Interval = 2;
  params.Quality = 2;
  params.Bitrate = 500;
  params.SamplesPerSec = 44100;
  params.BitsPerSample = 16;
  params.Chanels = 2;
  std::snprintf(params.Url, sizeof params.Url, "%s", url);
  return params;
}
