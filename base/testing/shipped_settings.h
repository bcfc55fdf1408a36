// The settings record as the config.ini shipped beside the program fills it on a 1280 x 720
// display (the shipped file leaves the desktop size to the display); tests change the
// fields their case is about.
#pragma once

#include "base/publisher_settings.h"

namespace quillon {

inline PublisherSettings ShippedSettings() {
  PublisherSettings s;
  s.ScreenWidth = 1280;
  s.ScreenHeight = 720;
  s.VideoWidth = 640;
  s.VideoHeight = 480;
  s.ScreenRate = 4;
  s.FrameRate = 15;
  s.Bitrate = 500;
  s.Interval = 2;
  s.Quality = 2;
  s.HaveAudio = 1;
  s.SamplesPerSec = 44100;
  s.BitsPerSample = 16;
  s.Chanels = 2;
  return s;
}

}  // namespace quillon
