#include "devices/testing/test_cameras.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <mutex>
#include <string>

#include "devices/gst_devices.h"

// GObject type boilerplate for the test provider and its devices.
struct QuillonTestCamera {
  GstDevice parent;
  gboolean jpeg;
};
struct QuillonTestCameraClass {
  GstDeviceClass parent_class;
};
struct QuillonTestCameraProvider {
  GstDeviceProvider parent;
};
struct QuillonTestCameraProviderClass {
  GstDeviceProviderClass parent_class;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
G_DEFINE_TYPE(QuillonTestCamera, quillon_test_camera, GST_TYPE_DEVICE)
G_DEFINE_TYPE(QuillonTestCameraProvider, quillon_test_camera_provider, GST_TYPE_DEVICE_PROVIDER)
#pragma GCC diagnostic pop

namespace {

GstElement* CreateCameraElement(GstDevice* device, const gchar* name) {
  auto* camera = reinterpret_cast<QuillonTestCamera*>(device);
  const char* description = camera->jpeg ? "videotestsrc is-live=true pattern=red ! jpegenc"
                                         : "videotestsrc is-live=true pattern=smpte";
  GError* error = nullptr;
  GstElement* element = gst_parse_bin_from_description(description, TRUE, &error);
  if (error != nullptr) g_error_free(error);
  if (element != nullptr && name != nullptr) gst_object_set_name(GST_OBJECT(element), name);
  return element;
}

GstDevice* NewCamera(const char* name, const char* caps, gboolean jpeg) {
  GstCaps* offered = gst_caps_from_string(caps);
  auto* camera = static_cast<QuillonTestCamera*>(
      g_object_new(quillon_test_camera_get_type(), "display-name", name, "device-class",
                   "Video/Source", "caps", offered, nullptr));
  gst_caps_unref(offered);
  camera->jpeg = jpeg;
  return GST_DEVICE(camera);
}

GList* ProbeCameras(GstDeviceProvider*) {
  GList* cameras = nullptr;
  cameras = g_list_append(cameras,
                          NewCamera(quillon::testing::kCameraA,
                                    "video/x-raw, format=(string){ YUY2, I420 }, width=[16,1920], "
                                    "height=[16,1080], framerate=[1/1,60/1]",
                                    FALSE));
  cameras =
      g_list_append(cameras, NewCamera(quillon::testing::kCameraB,
                                       "image/jpeg, width=320, height=240, framerate={15/1,30/1}; "
                                       "image/jpeg, width=640, height=480, framerate={15/1,30/1}",
                                       TRUE));
  cameras = g_list_append(
      cameras, NewCamera(quillon::testing::kCameraC,
                         "video/x-raw, format=I420, width=[16,1920], height=[16,1080], "
                         "framerate=[1/1,60/1]; video/x-raw, format=NV12, width=[16,1920], "
                         "height=[16,1080], framerate=[1/1,60/1]",
                         FALSE));
  return cameras;
}

gboolean RegisterProvider(GstPlugin* plugin) {
  return gst_device_provider_register(plugin, "quillontestcameras", GST_RANK_PRIMARY + 100,
                                      quillon_test_camera_provider_get_type());
}

}  // namespace

static void quillon_test_camera_class_init(QuillonTestCameraClass* klass) {
  GST_DEVICE_CLASS(klass)->create_element = CreateCameraElement;
}
static void quillon_test_camera_init(QuillonTestCamera* camera) {
  camera->jpeg = FALSE;
}

static void quillon_test_camera_provider_class_init(QuillonTestCameraProviderClass* klass) {
  GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
  provider->probe = ProbeCameras;
  gst_device_provider_class_set_static_metadata(provider, "Quillon test cameras", "Video/Source",
                                                "Lists the tests' cameras", "Quillon");
}
static void quillon_test_camera_provider_init(QuillonTestCameraProvider*) {}

#ifndef QUILLON_TEST_CAMERAS_PLUGIN
namespace quillon::testing {

void RegisterTestCameras() {
  static std::once_flag once;
  std::call_once(once, [] {
    EnsureGstInitialised();
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "quillontestcameras",
                               "Cameras of the device tests", RegisterProvider, "1.0", "LGPL",
                               "quillon", "quillon", "https://quillon.invalid/");
  });
}

std::vector<uint8_t> CameraAReference(int width, int height) {
  const std::string description =
      "videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,format=YUY2,width=" +
      std::to_string(width) + ",height=" + std::to_string(height) +
      " ! videoconvert ! video/x-raw,format=BGR ! appsink name=out";
  std::vector<uint8_t> picture;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (pipeline == nullptr) return picture;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
      const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      for (int y = 0; y < height; ++y) {
        picture.insert(picture.end(), data + y * stride, data + y * stride + width * 3);
      }
      gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return picture;
}

}  // namespace quillon::testing
#endif

#ifdef QUILLON_TEST_CAMERAS_PLUGIN
// Built as a loadable plugin too, so end-to-end tests can show the program these cameras through
// GST_PLUGIN_PATH.
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quillontestcameras,
                  "Cameras of the device tests", RegisterProvider, "1.0", "LGPL", "quillon",
                  "https://quillon.invalid/")
#endif
