// GStreamer set-up and the camera enumeration that the camera list and camera capture share, so a
// list position always names the same camera.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

namespace quillon {

// Initialises GStreamer once per process (and Xlib's threads, for the preview).
void EnsureGstInitialised();

struct GstObjectUnref {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
template <typename T>
using GstRef = std::unique_ptr<T, GstObjectUnref>;

// The video sources of a device monitor, in its order.
std::vector<GstRef<GstDevice>> EnumerateCameras();

// A camera's display name.
std::string CameraName(GstDevice* device);

}  // namespace quillon
