// The capture session: start and stop of a class, camera frames and sound, and the frame tick.
#include "capture/capture_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "capture/image_ops.h"
#include "launch/settings_check.h"

namespace quillon {

CaptureGeometry CaptureGeometry::From(const PublisherSettings& s) {
  auto side = [](int32_t width, int32_t height, int32_t* outWidth, int32_t* outHeight) {
    bool usable = width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide;
    *outWidth = usable ? width : 0;
    *outHeight = usable ? height : 0;
  };
  CaptureGeometry g;
  g.Picture = PictureTypeFromVideoStyle(s.VideoStyle);
  side(s.ScreenWidth, s.ScreenHeight, &g.ScreenWidth, &g.ScreenHeight);
  side(s.VideoWidth, s.VideoHeight, &g.VideoWidth, &g.VideoHeight);
  g.VideoX = std::max(s.VideoX, 0);
  g.VideoY = std::max(s.VideoY, 0);
  g.ScreenRate = std::max(s.ScreenRate, 0);
  g.FrameRate = std::max(s.FrameRate, 0);
  return g;
}

bool CaptureSession::CallGate::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  ++inside_;
  return true;
}

void CaptureSession::CallGate::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--inside_ == 0) idle_.notify_all();
}

void CaptureSession::CallGate::CloseAndWait() {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  idle_.wait(lock, [this] { return inside_ == 0; });
}

class CaptureSession::GateScope {
 public:
  explicit GateScope(CallGate& gate) : gate_(gate), entered_(gate.Enter()) {}
  ~GateScope() {
    if (entered_) gate_.Leave();
  }
  GateScope(const GateScope&) = delete;
  GateScope& operator=(const GateScope&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  CallGate& gate_;
  bool entered_;
};

CaptureSession::CaptureSession(const PublisherSettings& settings, CaptureParts parts)
    : settings_(settings),
      geometry_(CaptureGeometry::From(settings)),
      cameraFrameSize_(geometry_.VideoWidth * geometry_.VideoHeight * 3),
      screenFrameSize_(geometry_.ScreenWidth * geometry_.ScreenHeight * 3),
      cameraBuffer_(static_cast<size_t>(cameraFrameSize_)),
      screenBuffer_(static_cast<size_t>(screenFrameSize_)),
      // The thumbnail is a reduction of the desktop to the camera picture's proportions; it
      // must fit both whichever of the two is larger.
      thumbnailBuffer_(static_cast<size_t>(std::max(screenFrameSize_, cameraFrameSize_))),
      encoder_(std::move(parts.Encoder)),
      screen_(std::move(parts.Screen)),
      camera_(std::move(parts.Camera)),
      sound_(std::move(parts.Sound)) {}

CaptureSession::~CaptureSession() {
  // The timer first, and waited for: a tick still in progress finishes before the encoder's
  // last Stop, so no picture of this session's timer follows it.
  StopAndWait();
  Stop();
  gate_.CloseAndWait();  // no camera frame or sound piece is still inside
  if (camera_) camera_->SetFrameSink(false, nullptr);
}

bool CaptureSession::Start(PreviewWindow previewWindow) {
  if (!StartEncoder()) return false;
  StartCapture(previewWindow);
  return true;
}

bool CaptureSession::StartEncoder() {
  isRunning_ = true;
  const PublisherSettings& s = settings_;
  const std::optional<PictureType> picture = geometry_.Picture;
  // A desktop that needs the teacher's consent gets it before anything is published: a class
  // without its picture does not start.
  if (screen_ && picture && UsesDesktop(*picture)) {
    if (const ScreenProblem problem = screen_->Prepare(); problem != ScreenProblem::kNone) {
      startFailure_ = static_cast<uint32_t>(problem);
      return false;
    }
    FollowPreparedScreen();
  }
  LogTiming("screen ready");
  const bool desktopLarge = picture && LargePictureOf(*picture) == LargePicture::kDesktop;
  if (const ScreenProblem problem = ScreenSizeProblem(); problem != ScreenProblem::kNone) {
    startFailure_ = static_cast<uint32_t>(problem);
    return false;
  }
  params_.Width = desktopLarge ? geometry_.ScreenWidth : geometry_.VideoWidth;
  params_.Height = desktopLarge ? geometry_.ScreenHeight : geometry_.VideoHeight;
  params_.FormatCode = VERBENA_FORMAT_BGR24_BOTTOM_UP;
  params_.FrameRate = s.FrameRate;
  params_.Interval = s.Interval;
  params_.Quality = s.Quality;
  params_.Bitrate = s.Bitrate;
  params_.SamplesPerSec = s.SamplesPerSec;
  params_.BitsPerSample = s.BitsPerSample;
  params_.Chanels = s.Chanels;
  params_.Record = s.Record;
  std::snprintf(params_.Url, sizeof params_.Url, "%s", s.PublishUrl.c_str());

  if (!encoder_) return false;  // the loader has said which file or export is missing
  const EncoderFunctions& f = encoder_->Functions();
  encoderHandle_ = f.CreateEncoder(&params_);
  encoderCreated_ = true;
  if (!s.TrustedCA.empty()) {
    // The library takes a relative path from the program's folder, as config.ini names it.
    if (f.SetTrustedCA == nullptr || f.SetTrustedCA(encoderHandle_, s.TrustedCA.c_str()) == 0)
      LogWarning(
          "the encoder library does not take TrustedCA %s: rtmps:// trusts the system's "
          "certificate authorities alone",
          s.TrustedCA.c_str());
  }
  LogTiming("encoder created");
  const int started = f.Start(encoderHandle_);
  LogTiming("encoder started");
  if (started == 0) {
    if (const std::optional<VerbenaStats> stats = LibraryStats())
      startFailure_ = stats->StartFailure;
    return false;
  }
  encoderStarted_ = true;
  return true;
}

void CaptureSession::CancelStart() {
  if (screen_) screen_->CancelPrepare();
}

ScreenProblem CaptureSession::ScreenSizeProblem() const {
  const std::optional<PictureType> picture = geometry_.Picture;
  if (!picture || !UsesDesktop(*picture)) return ScreenProblem::kNone;
  // The settings could not check a whole display whose size came only now; a desktop inset of a
  // fixed size the settings refused is left out, but the encoder never gets a 0 x 0 picture.
  const bool desktopLarge = LargePictureOf(*picture) == LargePicture::kDesktop;
  if (!UsableScreenSize(geometry_.ScreenWidth, geometry_.ScreenHeight) &&
      (desktopLarge || settings_.ScreenFollowsDisplay)) {
    LogWarning("the desktop has no usable size (%dx%d): set ScreenWidth and ScreenHeight",
               geometry_.ScreenWidth, geometry_.ScreenHeight);
    return ScreenProblem::kNoScreenSize;
  }
  if (settings_.ScreenFollowsDisplay && HasInset(*picture) && desktopLarge &&
      geometry_.ScreenRate > std::min(geometry_.ScreenWidth, geometry_.ScreenHeight)) {
    LogWarning("ScreenRate %d leaves no inset of the %dx%d desktop", geometry_.ScreenRate,
               geometry_.ScreenWidth, geometry_.ScreenHeight);
    return ScreenProblem::kScreenRateTooLarge;
  }
  return ScreenProblem::kNone;
}

void CaptureSession::FollowPreparedScreen() {
  if (!settings_.ScreenFollowsDisplay) return;
  const std::optional<std::pair<int32_t, int32_t>> size = screen_->PreparedSize();
  if (!size) return;
  const int32_t width = size->first / 4 * 4;  // as the settings round a size they read
  const int32_t height = size->second / 4 * 4;
  if (!UsableScreenSize(width, height) ||
      (width == geometry_.ScreenWidth && height == geometry_.ScreenHeight)) {
    return;
  }
  LogInfo("the shared desktop is %dx%d: the class publishes it whole, not %dx%d", size->first,
          size->second, geometry_.ScreenWidth, geometry_.ScreenHeight);
  geometry_.ScreenWidth = width;
  geometry_.ScreenHeight = height;
  screenFrameSize_ = width * height * 3;
  screenBuffer_ = ZeroedBuffer(static_cast<size_t>(screenFrameSize_));
  thumbnailBuffer_ =
      ZeroedBuffer(static_cast<size_t>(std::max(screenFrameSize_, cameraFrameSize_)));
}

void CaptureSession::StartCapture(PreviewWindow previewWindow) {
  const PublisherSettings& s = settings_;
  const std::optional<PictureType> picture = geometry_.Picture;
  const EncoderFunctions& f = encoder_->Functions();
  const bool paced = geometry_.FrameRate >= 1;
  if (paced && picture && UsesDesktop(*picture)) {
    // With the desktop as the large picture the first picture is grabbed at once rather than a
    // period after the start; with the camera's, the camera's first frame is the first picture.
    FrameTimer::Start(1000u / static_cast<uint32_t>(geometry_.FrameRate), false,
                      LargePictureOf(*picture) == LargePicture::kDesktop);
    publishesPicture_ = screen_ != nullptr;
  }
  if (paced && camera_ && picture && UsesCamera(*picture)) {
    const bool opened = camera_->Open(s.DeviceID, previewWindow, geometry_.VideoWidth,
                                      geometry_.VideoHeight, geometry_.FrameRate) == 0;
    camera_->SetFrameSink(true, this);
    publishesPicture_ = publishesPicture_ || opened;  // camera alone: nothing without it
  }
  // Sound in a format the encoder cannot publish is not captured at all: the class runs without
  // it, as it does when the device cannot be opened (the window has told the teacher why).
  if (s.HaveAudio != 0 && sound_ && CheckSoundSettings(s).empty()) {
    sound_->SamplesPerSec = s.SamplesPerSec;
    sound_->BitsPerSample = s.BitsPerSample;
    sound_->Chanels = s.Chanels;
    if (sound_->Open(s.AudioDevice)) {
      int chunk = f.GetAudioNofifySize(encoderHandle_);
      if (chunk > 0) {
        sound_->ChunkBytes = static_cast<uint32_t>(chunk);
        sound_->SetRecording(true, this);
        soundOpen_ = true;
      }
    }
  }
}

void CaptureSession::Stop() {
  FrameTimer::Stop();
  if (encoderCreated_) encoder_->Functions().Stop(encoderHandle_);
  if (camera_) camera_->Stop();
  if (sound_) {
    sound_->SetRecording(false, this);
    sound_->Close();
  }
  isRunning_ = false;
}

void CaptureSession::PutVideo(const uint8_t* data, int32_t length) {
  if (!encoderStarted_) return;
  if (!firstPictureSent_.exchange(true)) LogTiming("first picture to the encoder");
  encoder_->Functions().PutVideoData(encoderHandle_, data, length);
}

void CaptureSession::StoreCameraFrame(const uint8_t* buffer, int32_t length,
                                      int64_t paddedRowBytes) {
  if (length == cameraFrameSize_) {
    std::memcpy(cameraBuffer_.data(), buffer, static_cast<size_t>(length));
    return;
  }
  const size_t rowBytes = static_cast<size_t>(geometry_.VideoWidth) * 3;
  for (int32_t row = 0; row < geometry_.VideoHeight; ++row) {
    std::memcpy(cameraBuffer_.data() + static_cast<size_t>(row) * rowBytes,
                buffer + row * paddedRowBytes, rowBytes);
  }
}

void CaptureSession::OnVideoFrame(double /*sampleTime*/, const uint8_t* buffer, int32_t length) {
  if (buffer == nullptr) return;
  GateScope inside(gate_);
  if (!inside) return;
  // The camera may pad each row to a multiple of 4 bytes; anything else that does not match the
  // picture size is dropped rather than copied past the buffer.
  const int64_t paddedRowBytes = (int64_t{geometry_.VideoWidth} * 3 + 3) & ~int64_t{3};
  const bool whole = length == cameraFrameSize_ && length > 0;
  const bool padded = length == paddedRowBytes * geometry_.VideoHeight && length > 0;
  if (!whole && !padded) {
    ++droppedCameraFrames_;
    return;
  }
  if (geometry_.Picture == PictureType::kCamera) {
    if (whole) {
      PutVideo(buffer, length);  // straight on, as delivered
      return;
    }
    // Only the camera thread touches the camera buffer in this picture type.
    StoreCameraFrame(buffer, length, paddedRowBytes);
    PutVideo(cameraBuffer_.data(), cameraFrameSize_);
    return;
  }
  std::lock_guard<FrameLock> lock(frameLock_);
  StoreCameraFrame(buffer, length, paddedRowBytes);
}

void CaptureSession::OnAudioData(const uint8_t* buffer, int32_t length) {
  if (buffer == nullptr) return;
  GateScope inside(gate_);
  if (!inside || !encoderStarted_) return;
  encoder_->Functions().PutAudioData(encoderHandle_, buffer, length);
  if (settings_.BitsPerSample == 16) {
    int32_t peak = 0;
    for (int32_t at = 0; at + 1 < length; at += 2) {
      const auto sample = static_cast<int16_t>(buffer[at] | (buffer[at + 1] << 8));
      peak = std::max(peak, sample < 0 ? -int32_t{sample} : int32_t{sample});
    }
    int32_t seen = soundPeak_.load();
    while (peak > seen && !soundPeak_.compare_exchange_weak(seen, peak)) {
    }
  }
}

std::optional<VerbenaStats> CaptureSession::LibraryStats() const {
  const auto getStats = encoder_->Functions().GetStats;  // an optional export
  VerbenaStats stats{};
  stats.Size = sizeof stats;
  if (getStats == nullptr || getStats(encoderHandle_, &stats) == 0) return std::nullopt;
  return stats;
}

ClassReading CaptureSession::Read() {
  ClassReading reading;
  reading.running = encoderStarted_ && isRunning_;
  if (reading.running) reading.stats = LibraryStats();
  reading.publishesPicture = publishesPicture_;
  reading.soundWanted = settings_.HaveAudio != 0;
  reading.classKbps = settings_.Bitrate;
  reading.soundOpen = soundOpen_;
  reading.soundPeak = std::min<int32_t>(soundPeak_.exchange(0), 32767);
  if (publishesPicture_ && screen_ && geometry_.Picture && UsesDesktop(*geometry_.Picture))
    reading.screenProblem = static_cast<uint32_t>(screen_->Problem());
  return reading;
}

void CaptureSession::OnTick() {
  GateScope inside(gate_);
  if (!inside) return;
  const CaptureGeometry& g = geometry_;
  uint8_t* screenData = screenBuffer_.data();
  if (screen_ && screenFrameSize_ > 0)
    screen_->GrabScreen(screenData, g.ScreenWidth, g.ScreenHeight);
  auto drawMarker = [&] {
    if (screen_ && screenFrameSize_ > 0)
      screen_->DrawCursorMarker(screenData, g.ScreenWidth, g.ScreenHeight);
  };

  if (!g.Picture) return;  // no picture at all
  switch (*g.Picture) {
    case PictureType::kDesktop:
      drawMarker();
      PutVideo(screenData, screenFrameSize_);
      break;
    case PictureType::kDesktopWithCameraInset: {
      const ImageView camera = MakeImageView(cameraBuffer_.data(), g.VideoWidth, g.VideoHeight);
      const ImageView screen = MakeImageView(screenData, g.ScreenWidth, g.ScreenHeight);
      if (g.ScreenRate >= 1) {
        const ImageView size =
            MakeImageView(nullptr, g.ScreenWidth / g.ScreenRate, g.ScreenHeight / g.ScreenRate);
        std::lock_guard<FrameLock> lock(frameLock_);
        PasteScaledNearest(screen, g.VideoX, g.VideoY, size, camera);
      }
      drawMarker();
      PutVideo(screenData, screenFrameSize_);
      break;
    }
    case PictureType::kCameraWithDesktopInset: {
      const ImageView screen = MakeImageView(screenData, g.ScreenWidth, g.ScreenHeight);
      const ImageView camera = MakeImageView(cameraBuffer_.data(), g.VideoWidth, g.VideoHeight);
      std::lock_guard<FrameLock> lock(frameLock_);
      if (g.ScreenRate >= 1) {
        const ImageView thumbnail = MakeImageView(
            thumbnailBuffer_.data(), g.VideoWidth / g.ScreenRate, g.VideoHeight / g.ScreenRate);
        if (thumbnail.Width > 0 && thumbnail.Height > 0) {
          ScaleDownHalving(thumbnail,
                           screen);  // spoils the desktop picture; grabbed anew next tick
          PasteImage(camera, g.VideoX, g.VideoY, thumbnail);
        }
      }
      PutVideo(cameraBuffer_.data(), cameraFrameSize_);
      break;
    }
    case PictureType::kCamera:
      break;  // the camera thread hands its pictures on itself
  }
}

}  // namespace quillon
