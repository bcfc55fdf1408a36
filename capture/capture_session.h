// The capture engine of one class: owns the encoder handle, the frame timer and lock, the camera,
// sound and screen capture and the frame buffers. The window makes a new session for every start
// of a class, calls Start, and Stop when the class ends. While it runs, the timer thread (OnTick),
// the camera thread (OnVideoFrame) and the sound thread (OnAudioData) call into it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/frame_sinks.h"
#include "base/picture_type.h"
#include "base/publisher_settings.h"
#include "capture/class_status.h"
#include "capture/encoder_library.h"
#include "capture/frame_timer.h"
#include "capture/screen_grabber.h"
#include "capture/zeroed_buffer.h"
#include "devices/capture_audio.h"
#include "devices/capture_video.h"

namespace quillon {

// What a session works with besides the settings. Any part may be missing: without an encoder
// library Start fails like a refused connection; without a camera, sound or screen the class runs
// without that source.
struct CaptureParts {
  std::shared_ptr<const EncoderLibrary> Encoder;
  std::unique_ptr<CCaptureVideo> Camera;
  std::unique_ptr<CCaptureAudio> Sound;
  std::unique_ptr<ScreenGrabber> Screen;
};

// The parts of this platform: the encoder library (encoder, or when that is null the library
// loaded from programFolder now), the platform's camera, sound capture and screen.
CaptureParts PlatformCaptureParts(const std::filesystem::path& programFolder,
                                  std::shared_ptr<const EncoderLibrary> encoder = nullptr);

// The picture sizes and inset placement of one class, taken from the settings once, with values
// that would divide by zero or reach outside a picture made harmless.
struct CaptureGeometry {
  // None for a VideoStyle outside the list: no picture is published, the encoder is still sized
  // by the camera.
  std::optional<PictureType> Picture = PictureType::kDesktop;
  int32_t ScreenWidth = 0;  // 0 x 0 when either side is not positive or beyond kMaxSide
  int32_t ScreenHeight = 0;
  int32_t VideoWidth = 0;
  int32_t VideoHeight = 0;
  int32_t VideoX = 0;  // never negative
  int32_t VideoY = 0;
  int32_t ScreenRate = 0;  // 0: no inset
  int32_t FrameRate = 0;   // 0: neither timer nor camera runs

  static constexpr int32_t kMaxSide = 16384;
  static CaptureGeometry From(const PublisherSettings& settings);
};

class CaptureSession final : public VideoFrameSink, public AudioDataSink, public FrameTimer {
 public:
  CaptureSession(const PublisherSettings& settings, CaptureParts parts);
  ~CaptureSession() override;

  // true from the beginning of Start until Stop, false otherwise.
  bool IsRunning() const { return isRunning_.load(); }

  // Readies the screen when the picture type shows the desktop, creates and starts the encoder,
  // then the timer, camera and sound as the picture type and HaveAudio ask. true on success;
  // false when the screen has nothing to publish or the encoder could not start publishing (the
  // caller reports ConnectFailedMessage(StartFailure())), in which case only Stop follows.
  bool Start(PreviewWindow previewWindow);
  // Start in two steps, for a window that keeps painting while the connection is made: the
  // encoder (on any one thread; it may take the connection's bound), then, after it succeeded and
  // on the thread that calls Stop, the timer, camera and sound.
  bool StartEncoder();
  void StartCapture(PreviewWindow previewWindow);
  // From any thread, while Start or StartEncoder runs (or before): a screen that waits for the
  // teacher's consent stops waiting, and the start fails with StartFailure() kCancelled.
  void CancelStart();
  // Timer, encoder, camera, sound, in this order; harmless when repeated.
  void Stop();

  void OnVideoFrame(double sampleTime, const uint8_t* buffer, int32_t length) override;
  void OnAudioData(const uint8_t* buffer, int32_t length) override;
  // The frame tick: grabs the desktop, composes the picture type's picture and hands it to the
  // encoder.
  void OnTick() override;

  const EncoderParams& Params() const { return params_; }
  // What the status line needs, read on the thread that calls Start and Stop: the library's
  // statistics, whether the picture type's sources and the sound opened, and the loudest sound
  // sample since the previous reading.
  ClassReading Read();
  // Why the last Start failed (VerbenaStats' StartFailure, or the screen's ScreenProblem); 0
  // when it did not or nobody said.
  uint32_t StartFailure() const { return startFailure_; }
  // Camera frames whose length fitted neither the picture nor its 4-byte padded rows.
  uint64_t DroppedCameraFrames() const { return droppedCameraFrames_.load(); }

 private:
  // Counts the callbacks inside the session, so the destructor can wait until none is.
  class CallGate {
   public:
    bool Enter();
    void Leave();
    void CloseAndWait();

   private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int inside_ = 0;
    bool closed_ = false;
  };
  class GateScope;

  void PutVideo(const uint8_t* data, int32_t length);
  // The encoder library's statistics of this session's encoder; none without the export.
  std::optional<VerbenaStats> LibraryStats() const;
  void StoreCameraFrame(const uint8_t* buffer, int32_t length, int64_t paddedRowBytes);

  const PublisherSettings& settings_;
  // Takes the size of the desktop the screen has readied, for a class that publishes the whole
  // display (before any picture is taken).
  void FollowPreparedScreen();
  // Why the desktop the class would publish has no picture to give the encoder, kNone when it has.
  ScreenProblem ScreenSizeProblem() const;

  CaptureGeometry geometry_;  // set before the timer starts, read-only from then on
  const int32_t cameraFrameSize_;
  int32_t screenFrameSize_;

  std::atomic<bool> isRunning_{false};
  void* encoderHandle_ = nullptr;
  bool encoderCreated_ = false;
  bool encoderStarted_ = false;
  std::atomic<bool> firstPictureSent_{false};  // for the timing log
  EncoderParams params_{};
  std::atomic<uint64_t> droppedCameraFrames_{0};
  bool publishesPicture_ = false;
  uint32_t startFailure_ = 0;
  bool soundOpen_ = false;
  std::atomic<int32_t> soundPeak_{0};
  CallGate gate_;

  // Destroyed in reverse order: sound, camera, screen, then the buffers and the lock.
  FrameLock frameLock_;
  ZeroedBuffer cameraBuffer_;
  ZeroedBuffer screenBuffer_;
  ZeroedBuffer thumbnailBuffer_;
  std::shared_ptr<const EncoderLibrary> encoder_;
  std::unique_ptr<ScreenGrabber> screen_;
  std::unique_ptr<CCaptureVideo> camera_;
  std::unique_ptr<CCaptureAudio> sound_;
};

}  // namespace quillon
