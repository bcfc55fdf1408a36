#include "devices/gst_devices.h"

#include <X11/Xlib.h>

#include <mutex>

namespace quillon {

void EnsureGstInitialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The preview sink draws from GStreamer's threads into our window.
    XInitThreads();
    gst_init(nullptr, nullptr);
  });
}

std::vector<GstRef<GstDevice>> EnumerateCameras() {
  EnsureGstInitialised();
  std::vector<GstRef<GstDevice>> cameras;
  GstRef<GstDeviceMonitor> monitor(gst_device_monitor_new());
  gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
  GList* devices = gst_device_monitor_get_devices(monitor.get());
  for (GList* item = devices; item != nullptr; item = item->next) {
    cameras.emplace_back(static_cast<GstDevice*>(item->data));  // takes the list's reference
  }
  g_list_free(devices);
  return cameras;
}

std::string CameraName(GstDevice* device) {
  gchar* name = gst_device_get_display_name(device);
  std::string text = name != nullptr ? name : "";
  g_free(name);
  return text;
}

}  // namespace quillon
