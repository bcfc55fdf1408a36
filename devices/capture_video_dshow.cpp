// The camera on DirectShow. One filter graph:
//
//   camera capture pin [-> decoder / colour converter] -> sample grabber (RGB24) -> video renderer
//
// The grabber calls the process-wide COM callback on the graph's streaming thread with every
// frame as RGB24 (blue, green, red bytes, rows bottom-up and padded to 4 bytes); the renderer's
// window is the preview, a child of the caller's window.
#include "devices/capture_video_dshow.h"

#include <dshow.h>
#include <qedit.h>

#include <cstdint>
#include <utility>

#include "devices/com_win.h"
#include "devices/device_messages.h"
#include "devices/dshow_devices.h"
#include "devices/grabber_callback.h"

// mingw's qedit.h names the sample grabber's interfaces but not its class; libstrmiids defines it.
extern "C" const CLSID CLSID_SampleGrabber;

namespace quillon {
namespace {

constexpr int kAlreadyOpened = 1;
constexpr int kNotOpened = 1;
constexpr size_t kVideoCapsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);  // 128
constexpr LONGLONG kUnitsPerSecond = 10000000;                       // 100 ns units

// The sample grabber's callback: a COM face on the portable GrabberCallback. One instance for
// the whole process, never counted or freed, so a frame in flight never finds it gone.
// COM interfaces have no virtual destructor: their objects end through Release, and this one
// never ends at all.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class GrabberCallbackCom final : public ISampleGrabberCB {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_ISampleGrabberCB) || IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override {
    return TheGrabberCallback().BufferCB(sampleTime, buffer, static_cast<int32_t>(length))
               ? S_OK
               : E_POINTER;
  }
};
#pragma GCC diagnostic pop

GrabberCallbackCom& TheGrabberCallbackCom() {
  static GrabberCallbackCom callback;
  return callback;
}

// Frees a media type that GetStreamCaps allocated, with its format block.
void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  if (type->cbFormat != 0) CoTaskMemFree(type->pbFormat);
  if (type->pUnk != nullptr) type->pUnk->Release();
  CoTaskMemFree(type);
}

bool IsWantedSubtype(const GUID& subtype) {
  return IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) || IsEqualGUID(subtype, MEDIASUBTYPE_YUY2) ||
         IsEqualGUID(subtype, MEDIASUBTYPE_MJPG);
}

// The filter's first output pin.
HRESULT FirstOutputPin(IBaseFilter* filter, ComRef<IPin>* found) {
  ComRef<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(pins.Put());
  if (FAILED(hr)) return hr;
  ComRef<IPin> pin;
  while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) {
      *found = std::move(pin);
      return S_OK;
    }
  }
  return E_FAIL;
}

class CaptureVideoDShow final : public CCaptureVideo {
 public:
  explicit CaptureVideoDShow(std::wstring sourceFile) : sourceFile_(std::move(sourceFile)) {
    if (!com_.Ok()) ShowUserMessage("CCaptureVideo CoInitialize Failed!\r\n");
  }
  ~CaptureVideoDShow() override { Stop(); }

  int Open(int32_t deviceIndex, PreviewWindow previewOwner, int32_t width, int32_t height,
           int32_t frameRate) override {
    if (opened_) return kAlreadyOpened;
    if (FAILED(CreateGraph())) {
      ShowUserMessage("Failed to get video interfaces!");
      return kNotOpened;
    }
    if (sourceFile_.empty()) {
      if (!BindCamera(deviceIndex)) return kNotOpened;
      // A size or rate below 1 is no format any camera has (the rate divides a second).
      if (width < 1 || height < 1 || frameRate < 1 ||
          FAILED(ApplyCameraFormat(frameRate, width, height))) {
        ShowUserMessage("Failed to set camera video size!");
        return kNotOpened;
      }
      graph_->AddFilter(camera_.Get(), L"Capture Filter");
    } else if (FAILED(graph_->AddSourceFilter(sourceFile_.c_str(), L"Capture Filter",
                                              camera_.Put()))) {
      return kNotOpened;
    }

    ComRef<IBaseFilter> grabberFilter;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ISampleGrabber, grabber_.PutVoid())) ||
        FAILED(grabber_.As(IID_IBaseFilter, &grabberFilter))) {
      ShowUserMessage("Fail to create SampleGrabber, maybe qedit.dll is not registered?");
      return kNotOpened;
    }
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    wanted.formattype = FORMAT_VideoInfo;
    HRESULT hr = grabber_->SetMediaType(&wanted);
    if (FAILED(hr)) {
      ShowUserMessage("Fail to set media type!");
      return static_cast<int>(hr);
    }
    hr = graph_->AddFilter(grabberFilter.Get(), L"Grabber");
    if (FAILED(hr)) {
      ShowUserMessage("Fail to put sample grabber in graph");
      return static_cast<int>(hr);
    }
    // A camera is led from its capture pin to the default renderer for video. A file source has
    // only its one output, of no declared category and of the byte-stream type, for which no
    // default renderer exists: it gets the video renderer named.
    if (sourceFile_.empty()) {
      hr = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera_.Get(),
                                  grabberFilter.Get(), nullptr);
    } else {
      ComRef<IBaseFilter> renderer;
      hr = CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            renderer.PutVoid());
      if (SUCCEEDED(hr)) hr = graph_->AddFilter(renderer.Get(), L"Preview");
      if (SUCCEEDED(hr)) {
        hr = builder_->RenderStream(nullptr, nullptr, camera_.Get(), grabberFilter.Get(),
                                    renderer.Get());
      }
    }
    if (FAILED(hr)) {
      ShowUserMessage("Can't build the graph");
      return static_cast<int>(hr);
    }
    TheGrabberCallback().Sink = nullptr;
    TheGrabberCallback().Enabled = 0;
    grabber_->SetBufferSamples(FALSE);
    grabber_->SetOneShot(FALSE);
    grabber_->SetCallback(&TheGrabberCallbackCom(), 1);  // 1: BufferCB

    opened_ = true;
    previewOwner_ = previewOwner;
    AttachPreview();
    hr = control_->Run();
    if (FAILED(hr)) {
      ShowUserMessage("Couldn't run the graph!");
      return static_cast<int>(hr);
    }
    return 0;
  }

  void Stop() override {
    if (control_) control_->StopWhenReady();
    if (videoWindow_) {
      videoWindow_->put_Visible(OAFALSE);
      videoWindow_->put_Owner(0);
    }
    control_.Reset();
    videoWindow_.Reset();
    graph_.Reset();
    camera_.Reset();
    grabber_.Reset();
    builder_.Reset();
  }

  void SetFrameSink(bool enabled, VideoFrameSink* sink) override {
    TheGrabberCallback().Sink = sink;
    TheGrabberCallback().Enabled = enabled ? 1 : 0;
  }

 private:
  HRESULT CreateGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, graph_.PutVoid());
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                          IID_ICaptureGraphBuilder2, builder_.PutVoid());
    if (FAILED(hr)) return hr;
    builder_->SetFiltergraph(graph_.Get());
    hr = graph_.As(IID_IMediaControl, &control_);
    if (FAILED(hr)) return hr;
    return graph_.As(IID_IVideoWindow, &videoWindow_);
  }

  // The camera at deviceIndex of the video-input category. Every moniker counts towards the
  // position; only one with a readable name can be chosen, as only those are listed.
  bool BindCamera(int32_t deviceIndex) {
    if (deviceIndex < 0) return false;
    ForEachCamera([&](int position, IMoniker* moniker, const std::string* name) {
      if (position == deviceIndex && name != nullptr) {
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, camera_.PutVoid());
      }
      return position < deviceIndex;
    });
    return static_cast<bool>(camera_);
  }

  // Sets the camera's output to width x height at frameRate, in its first RGB24, YUY2 or MJPG
  // format (else its last one). On a refused size the previous size is put back and E_FAIL
  // returned.
  HRESULT ApplyCameraFormat(int32_t frameRate, int32_t width, int32_t height) {
    ComRef<IPin> pin;
    HRESULT hr = FirstOutputPin(camera_.Get(), &pin);
    if (FAILED(hr)) return hr;
    ComRef<IAMStreamConfig> config;
    hr = pin.As(IID_IAMStreamConfig, &config);
    if (FAILED(hr)) return hr;
    int count = 0;
    int size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)) ||
        static_cast<size_t>(size) != kVideoCapsSize || count < 1) {
      return E_FAIL;
    }
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    for (int i = 0; i < count; ++i) {
      DeleteMediaType(type);
      type = nullptr;
      hr = config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps));
      if (hr == S_OK && type != nullptr && IsWantedSubtype(type->subtype)) break;
    }
    if (hr != S_OK || type == nullptr) {
      DeleteMediaType(type);
      return FAILED(hr) ? hr : E_FAIL;
    }
    // Only a video information header can be sized; anything else is no format we can set.
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) || type->pbFormat == nullptr ||
        type->cbFormat < sizeof(VIDEOINFOHEADER)) {
      DeleteMediaType(type);
      return E_FAIL;
    }
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    const LONG oldWidth = header->bmiHeader.biWidth;
    const LONG oldHeight = header->bmiHeader.biHeight;
    header->bmiHeader.biWidth = width;
    header->bmiHeader.biHeight = height;
    header->AvgTimePerFrame = kUnitsPerSecond / frameRate;
    // The pixel count of a row is raised to a multiple of 4, as the cameras expect.
    const uint64_t paddedWidth = (uint64_t{static_cast<uint32_t>(width)} + 3) & ~uint64_t{3};
    const uint64_t bytes =
        paddedWidth * (header->bmiHeader.biBitCount / 8u) * static_cast<uint32_t>(height);
    const DWORD imageSize = bytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(bytes);
    header->bmiHeader.biSizeImage = imageSize;
    type->lSampleSize = imageSize;
    hr = config->SetFormat(type);
    if (FAILED(hr)) {
      header->bmiHeader.biWidth = oldWidth;
      header->bmiHeader.biHeight = oldHeight;
      config->SetFormat(type);
      hr = E_FAIL;
    }
    DeleteMediaType(type);
    return hr;
  }

  // The renderer's window as a child filling the owner's client area, sized once. Without an
  // owner the renderer would open a window of its own: the preview then stays hidden.
  void AttachPreview() {
    if (previewOwner_ == 0) {
      videoWindow_->put_AutoShow(OAFALSE);
      return;
    }
    if (FAILED(videoWindow_->put_Owner(static_cast<OAHWND>(previewOwner_)))) return;
    if (FAILED(videoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN))) return;
    RECT client{};
    GetClientRect(reinterpret_cast<HWND>(previewOwner_), &client);
    videoWindow_->SetWindowPosition(0, 0, client.right, client.bottom);
    videoWindow_->put_Visible(OATRUE);
  }

  ComApartment com_;  // first in, last out: every reference below is released before it
  const std::wstring sourceFile_;
  bool opened_ = false;  // an opened instance is never opened again
  PreviewWindow previewOwner_ = 0;
  ComRef<IGraphBuilder> graph_;
  ComRef<ICaptureGraphBuilder2> builder_;
  ComRef<IBaseFilter> camera_;
  ComRef<IMediaControl> control_;
  ComRef<IVideoWindow> videoWindow_;
  ComRef<ISampleGrabber> grabber_;
};

}  // namespace

std::unique_ptr<CCaptureVideo> CreateCaptureVideo() {
  return std::make_unique<CaptureVideoDShow>(std::wstring());
}

std::unique_ptr<CCaptureVideo> CreateFileCaptureVideo(const std::wstring& path) {
  return std::make_unique<CaptureVideoDShow>(path);
}

}  // namespace quillon
