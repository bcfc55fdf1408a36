// The camera on GStreamer. One pipeline plays the part of the capture graph:
//
//   camera source ! chosen caps [! jpegdec] ! videoconvert ! BGR width x height ! tee
//     tee. ! queue ! videoflip (rows bottom-up) ! appsink   -> the frame callback
//     tee. ! queue ! videoscale ! videoconvert ! ximagesink -> the preview window
//
// Frames reach the process-wide GrabberCallback on the streaming thread as the engine's pictures:
// blue, green, red bytes, rows bottom-up and width x 3 bytes apart.
#include <X11/Xlib.h>
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gst/video/videooverlay.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "devices/capture_video.h"
#include "devices/device_messages.h"
#include "devices/grabber_callback.h"
#include "devices/gst_devices.h"

namespace quillon {
namespace {

constexpr int kFailed = -1;  // the result of a failed build or run step
constexpr GstClockTime kRunTimeout = 5 * GST_SECOND;

GstElement* Make(const char* factory) {
  return gst_element_factory_make(factory, nullptr);
}

struct CapsUnref {
  void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using CapsRef = std::unique_ptr<GstCaps, CapsUnref>;

// How much a camera format is wanted: raw BGR or YUY2 first, then MJPG (decoded here), then
// anything else the camera offers.
enum class FormatRank { kRaw = 0, kJpeg = 1, kOther = 2 };

FormatRank RankOf(const GstStructure* offered, const char** rawFormat) {
  if (gst_structure_has_name(offered, "image/jpeg")) return FormatRank::kJpeg;
  if (!gst_structure_has_name(offered, "video/x-raw")) return FormatRank::kOther;
  for (const char* format : {"BGR", "YUY2"}) {
    GstStructure* wanted =
        gst_structure_new("video/x-raw", "format", G_TYPE_STRING, format, nullptr);
    const bool offers = gst_structure_can_intersect(offered, wanted);
    gst_structure_free(wanted);
    if (offers) {
      *rawFormat = format;
      return FormatRank::kRaw;
    }
  }
  return FormatRank::kOther;
}

// The camera's caps at width x height and frameRate: the first raw BGR/YUY2 format that offers
// them, else the first MJPG one, else the last other one. nullptr when no format offers them.
CapsRef ChooseCameraCaps(GstCaps* offered, int32_t width, int32_t height, int32_t frameRate) {
  CapsRef best;
  int bestRank = 3;
  const guint count = offered != nullptr ? gst_caps_get_size(offered) : 0;
  for (guint i = 0; i < count; ++i) {
    const GstStructure* structure = gst_caps_get_structure(offered, i);
    const char* rawFormat = nullptr;
    const int rank = static_cast<int>(RankOf(structure, &rawFormat));
    const bool better = rank < bestRank || (rank == bestRank && rank == 2);
    if (!better) continue;
    GstStructure* wanted = gst_structure_new(gst_structure_get_name(structure), "width", G_TYPE_INT,
                                             width, "height", G_TYPE_INT, height, "framerate",
                                             GST_TYPE_FRACTION, frameRate, 1, nullptr);
    if (rawFormat != nullptr)
      gst_structure_set(wanted, "format", G_TYPE_STRING, rawFormat, nullptr);
    GstStructure* chosen = gst_structure_intersect(structure, wanted);
    gst_structure_free(wanted);
    if (chosen == nullptr) continue;
    CapsRef caps(gst_caps_new_full(chosen, nullptr));
    best.reset(gst_caps_fixate(caps.release()));
    bestRank = rank;
  }
  return best;
}

int IgnoreXErrors(Display*, XErrorEvent*) {
  return 0;
}

// The size of window's client area; false when it is not a window (an X error is not fatal here).
bool WindowSize(Window window, int* width, int* height) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XWindowAttributes attributes;
  XSync(display, False);
  auto* previous = XSetErrorHandler(IgnoreXErrors);
  const bool found = XGetWindowAttributes(display, window, &attributes) != 0;
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  if (!found) return false;
  *width = attributes.width;
  *height = attributes.height;
  return true;
}

class CaptureVideoGst final : public CCaptureVideo {
 public:
  ~CaptureVideoGst() override { Stop(); }

  int Open(int32_t deviceIndex, PreviewWindow previewOwner, int32_t width, int32_t height,
           int32_t frameRate) override {
    if (opened_) return 1;
    EnsureGstInitialised();
    if (!CreatePipeline()) {
      ShowUserMessage("Failed to get video interfaces!");
      return 1;
    }
    GstElement* camera = BindCamera(deviceIndex);
    if (camera == nullptr) return 1;
    if (width < 1 || height < 1 || frameRate < 1 ||
        !(cameraCaps_ = ChooseCameraCaps(offered_.get(), width, height, frameRate))) {
      gst_object_unref(gst_object_ref_sink(camera));
      ShowUserMessage("Failed to set camera video size!");
      return 1;
    }
    width_ = width;
    height_ = height;
    // Room for packing padded rows, made now so the frame path allocates nothing.
    if ((width * 3) % 4 != 0) packed_.resize(size_t{3} * width * height);
    if (!BuildPipeline(camera)) {
      ShowUserMessage("Can't build the graph");
      return kFailed;
    }
    TheGrabberCallback().Sink = nullptr;
    TheGrabberCallback().Enabled = 0;
    opened_ = true;
    AttachPreview(previewOwner);
    if (!Run()) {
      ShowUserMessage("Couldn't run the graph!");
      return kFailed;
    }
    return 0;
  }

  void Stop() override {
    if (pipeline_) {
      // Joins the streaming threads: no frame is delivered after this.
      gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
      pipeline_.reset();
    }
  }

  void SetFrameSink(bool enabled, VideoFrameSink* sink) override {
    TheGrabberCallback().Sink = sink;
    TheGrabberCallback().Enabled = enabled ? 1 : 0;
  }

 private:
  // The elements every camera pipeline needs; false when one is missing from the system.
  bool CreatePipeline() {
    pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("camera"))));
    convert_ = Make("videoconvert");
    bgr_ = Make("capsfilter");
    tee_ = Make("tee");
    frameQueue_ = Make("queue");
    flip_ = Make("videoflip");
    appSink_ = Make("appsink");
    previewQueue_ = Make("queue");
    previewScale_ = Make("videoscale");
    previewConvert_ = Make("videoconvert");
    previewSize_ = Make("capsfilter");
    GstElement* all[] = {convert_, bgr_,          tee_,          frameQueue_,     flip_,
                         appSink_, previewQueue_, previewScale_, previewConvert_, previewSize_};
    bool complete = true;
    for (GstElement* element : all) {
      if (element == nullptr) {
        complete = false;
      } else {
        gst_bin_add(GST_BIN(pipeline_.get()), element);
      }
    }
    return complete;
  }

  // The source element of the camera at deviceIndex (floating), with the formats it offers in
  // offered_; nullptr when there is no such camera.
  GstElement* BindCamera(int32_t deviceIndex) {
    if (deviceIndex < 0) return nullptr;
    std::vector<GstRef<GstDevice>> cameras = EnumerateCameras();
    if (static_cast<size_t>(deviceIndex) >= cameras.size()) return nullptr;
    GstDevice* device = cameras[static_cast<size_t>(deviceIndex)].get();
    offered_.reset(gst_device_get_caps(device));
    return gst_device_create_element(device, nullptr);
  }

  bool BuildPipeline(GstElement* camera) {
    GstElement* cameraFilter = Make("capsfilter");
    GstElement* decoder = nullptr;
    if (gst_structure_has_name(gst_caps_get_structure(cameraCaps_.get(), 0), "image/jpeg")) {
      decoder = Make("jpegdec");
      if (decoder == nullptr) {
        gst_object_unref(gst_object_ref_sink(camera));
        if (cameraFilter != nullptr) gst_object_unref(gst_object_ref_sink(cameraFilter));
        return false;
      }
    }
    gst_bin_add(GST_BIN(pipeline_.get()), camera);
    if (cameraFilter == nullptr) return false;
    gst_bin_add(GST_BIN(pipeline_.get()), cameraFilter);
    g_object_set(cameraFilter, "caps", cameraCaps_.get(), nullptr);
    if (decoder != nullptr) gst_bin_add(GST_BIN(pipeline_.get()), decoder);

    CapsRef bgr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width",
                                    G_TYPE_INT, width_, "height", G_TYPE_INT, height_, nullptr));
    g_object_set(bgr_, "caps", bgr.get(), nullptr);
    // Only the frames turn bottom-up; the preview stays the right way up.
    gst_util_set_object_arg(G_OBJECT(flip_), "video-direction", "vert");
    g_object_set(frameQueue_, "max-size-buffers", 2, "leaky", 2, nullptr);
    g_object_set(previewQueue_, "max-size-buffers", 2, "leaky", 2, nullptr);
    g_object_set(appSink_, "caps", bgr.get(), "sync", FALSE, "max-buffers", 2, "drop", TRUE,
                 nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(appSink_), &callbacks, this, nullptr);

    const bool linked =
        gst_element_link(camera, cameraFilter) &&
        (decoder == nullptr ? gst_element_link(cameraFilter, convert_)
                            : gst_element_link_many(cameraFilter, decoder, convert_, nullptr)) &&
        gst_element_link_many(convert_, bgr_, tee_, nullptr) &&
        gst_element_link_many(tee_, frameQueue_, flip_, appSink_, nullptr) &&
        gst_element_link_many(tee_, previewQueue_, previewScale_, previewConvert_, previewSize_,
                              nullptr);
    return linked;
  }

  // Draws the preview into owner, filling its client area as it is now; without a window or a
  // display the preview branch ends in a fakesink. Failures here are silent.
  void AttachPreview(PreviewWindow owner) {
    int previewWidth = 0;
    int previewHeight = 0;
    if (owner != 0) WindowSize(static_cast<Window>(owner), &previewWidth, &previewHeight);
    GstElement* sink = previewWidth > 0 && previewHeight > 0 ? Make("ximagesink") : nullptr;
    if (sink != nullptr) {
      CapsRef size(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, previewWidth, "height",
                                       G_TYPE_INT, previewHeight, "pixel-aspect-ratio",
                                       GST_TYPE_FRACTION, 1, 1, nullptr));
      g_object_set(previewSize_, "caps", size.get(), nullptr);
      g_object_set(sink, "sync", FALSE, "handle-events", FALSE, "force-aspect-ratio", FALSE,
                   nullptr);
      // The window is given before the pipeline plays, so the sink never opens one of its own.
      gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), owner);
    } else {
      sink = Make("fakesink");
      if (sink == nullptr) return;
      g_object_set(sink, "sync", FALSE, nullptr);
    }
    gst_bin_add(GST_BIN(pipeline_.get()), sink);
    if (!gst_element_link(previewSize_, sink)) {
      gst_element_set_state(sink, GST_STATE_NULL);
      gst_bin_remove(GST_BIN(pipeline_.get()), sink);
    }
  }

  bool Run() {
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      return false;
    }
    GstState state = GST_STATE_NULL;
    const GstStateChangeReturn result =
        gst_element_get_state(pipeline_.get(), &state, nullptr, kRunTimeout);
    return result != GST_STATE_CHANGE_FAILURE && result != GST_STATE_CHANGE_ASYNC &&
           state == GST_STATE_PLAYING;
  }

  // On the streaming thread: one BGR frame, turned bottom-up, to the frame callback.
  static GstFlowReturn OnSample(GstAppSink* sink, gpointer self) {
    auto* capture = static_cast<CaptureVideoGst*>(self);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) return GST_FLOW_EOS;
    capture->Deliver(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
  }

  void Deliver(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    GstVideoFrame frame;
    if (buffer == nullptr || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
      TheGrabberCallback().BufferCB(0, nullptr, 0);
      return;
    }
    const double time = GST_BUFFER_PTS_IS_VALID(buffer)
                            ? static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND
                            : 0.0;
    const auto* data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const size_t stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    const size_t row = static_cast<size_t>(GST_VIDEO_FRAME_WIDTH(&frame)) * 3;
    const size_t rows = static_cast<size_t>(GST_VIDEO_FRAME_HEIGHT(&frame));
    if (stride == row) {
      TheGrabberCallback().BufferCB(time, data, static_cast<int32_t>(row * rows));
    } else {
      // Rows padded to 4 bytes: packed into width x 3 bytes per row.
      if (packed_.size() != row * rows) packed_.resize(row * rows);
      for (size_t y = 0; y < rows; ++y) {
        std::copy_n(data + y * stride, row, packed_.data() + y * row);
      }
      TheGrabberCallback().BufferCB(time, packed_.data(), static_cast<int32_t>(packed_.size()));
    }
    gst_video_frame_unmap(&frame);
  }

  bool opened_ = false;  // set once the pipeline is built: an opened camera is never reopened
  int32_t width_ = 0;
  int32_t height_ = 0;
  GstRef<GstElement> pipeline_;
  CapsRef offered_;
  CapsRef cameraCaps_;
  // Owned by pipeline_.
  GstElement* convert_ = nullptr;
  GstElement* bgr_ = nullptr;
  GstElement* tee_ = nullptr;
  GstElement* frameQueue_ = nullptr;
  GstElement* flip_ = nullptr;
  GstElement* appSink_ = nullptr;
  GstElement* previewQueue_ = nullptr;
  GstElement* previewScale_ = nullptr;
  GstElement* previewConvert_ = nullptr;
  GstElement* previewSize_ = nullptr;
  std::vector<uint8_t> packed_;  // streaming thread only
};

}  // namespace

std::unique_ptr<CCaptureVideo> CreateCaptureVideo() {
  return std::make_unique<CaptureVideoGst>();
}

}  // namespace quillon
