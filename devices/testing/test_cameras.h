// Cameras of the tests' own: a GStreamer device provider, registered inside the test binary,
// that lists two cameras backed by videotestsrc.
//   0 "Quillon Test Camera A": raw YUY2 or I420, any size from 16x16 to 1920x1080, 1 to 60 fps,
//     the SMPTE colour bars.
//   1 "Quillon Test Camera B": MJPG only, 320x240 or 640x480 at 15 or 30 fps, solid red.
//   2 "Quillon Test Camera C": I420 or NV12 only (neither BGR, YUY2 nor MJPG), the colour bars.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <vector>

namespace quillon::testing {

inline constexpr const char* kCameraA = "Quillon Test Camera A";
inline constexpr const char* kCameraB = "Quillon Test Camera B";
inline constexpr const char* kCameraC = "Quillon Test Camera C";

// Registers the provider (once per process) and initialises GStreamer.
void RegisterTestCameras();

// What camera A shows at width x height, as BGR rows top-down width x 3 bytes apart, made by an
// independent pipeline with the same conversion.
std::vector<uint8_t> CameraAReference(int width, int height);

}  // namespace quillon::testing
