// Sound capture on DirectSound: the capture buffer is the ring of 16 chunks, with a notification
// at the last byte of each chunk. A worker thread of ours waits for the notifications and hands
// every whole chunk on to the sink straight from the locked buffer.
#include <dsound.h>
#include <mmreg.h>

#include <atomic>
#include <cstring>

#include "devices/audio_ring.h"
#include "devices/capture_audio.h"
#include "devices/com_win.h"
#include "devices/device_messages.h"

namespace quillon {
namespace {

// The largest chunk: a ring of 16 of them stays within 256 MiB and its size within 32 bits.
constexpr uint32_t kMaxChunkBytes = 1u << 24;
constexpr const char* kReadFailed = "Error handling DirectSound notifications.";

class CaptureAudioDSound final : public CCaptureAudio {
 public:
  CaptureAudioDSound() {
    if (!com_.Ok()) ShowUserMessage("CCaptureAudio CoInitialize Failed!\r\n");
    format_.wFormatTag = WAVE_FORMAT_PCM;
  }
  // The worker ends before the ring and its events go.
  ~CaptureAudioDSound() override { Close(); }

  bool Open(const AudioDeviceId* device) override {
    if (device == nullptr || device == NoAudioSelection()) return false;
    if (recording_.load()) return true;
    EndWorker();  // one that ended on its own (a failed read, WM_QUIT)
    static_assert(sizeof(GUID) == sizeof(device->Guid));
    std::memcpy(&device_guid_, device->Guid.data(), sizeof(GUID));
    std::memset(positions_, 0, sizeof(positions_));
    ring_bytes_ = 0;
    ChunkBytes = 0;
    const HRESULT hr = DirectSoundCaptureCreate(&device_guid_, capture_device_.Put(), nullptr);
    const PcmFormat format = BuildFormat(SamplesPerSec, BitsPerSample, Chanels);
    format_.wFormatTag = format.FormatTag;
    format_.nChannels = format.Channels;
    format_.nSamplesPerSec = format.SamplesPerSec;
    format_.nAvgBytesPerSec = format.AvgBytesPerSec;
    format_.nBlockAlign = format.BlockAlign;
    format_.wBitsPerSample = format.BitsPerSample;
    format_.cbSize = 0;
    return SUCCEEDED(hr);
  }

  int SetRecording(bool on, AudioDataSink* sink) override {
    sink_.store(sink);
    return (on ? Start() : Finish()) ? 0 : 1;
  }

  void Close() override {
    EndWorker();
    notify_.Reset();
    capture_buffer_.Reset();
    capture_device_.Reset();
    chunk_event_.Reset();
  }

 private:
  // Starts the capture buffer and the worker; false when either cannot start.
  bool Start() {
    if (WorkerRunning()) return true;  // already recording into the same ring
    EndWorker();
    if (!CreateRing() || FAILED(capture_buffer_->Start(DSCBSTART_LOOPING))) return false;
    stop_event_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stop_event_) return false;
    recording_.store(true);
    worker_.Reset(CreateThread(nullptr, 0, &CaptureAudioDSound::WorkerMain, this, 0, nullptr));
    if (!worker_) {
      recording_.store(false);
      return false;
    }
    return true;
  }

  // Ends recording; false when the last whole chunks could not be read.
  bool Finish() {
    recording_.store(false);
    if (!capture_buffer_) {
      EndWorker();
      return true;
    }
    // Ends the worker for certain (it may wait for a notification that comes only seconds
    // later, or never): from here on only this thread reads the ring.
    EndWorker();
    if (FAILED(capture_buffer_->Stop())) return true;
    // The whole chunks captured since the worker's last read; a partial chunk is dropped.
    return ReadChunks();
  }

  bool CreateRing() {
    notify_.Reset();
    capture_buffer_.Reset();
    if (ChunkBytes == 0 || ChunkBytes > kMaxChunkBytes || !capture_device_) return false;
    ring_bytes_ = ChunkBytes * kRingChunks;
    DSCBUFFERDESC description{};
    description.dwSize = sizeof(description);
    description.dwFlags = 0;
    description.dwBufferBytes = ring_bytes_;
    description.lpwfxFormat = &format_;
    if (FAILED(
            capture_device_->CreateCaptureBuffer(&description, capture_buffer_.Put(), nullptr))) {
      return false;
    }
    next_offset_ = 0;
    return ArmNotifications();
  }

  bool ArmNotifications() {
    if (!capture_buffer_) return false;
    chunk_event_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!chunk_event_ || FAILED(capture_buffer_.As(IID_IDirectSoundNotify, &notify_))) {
      return false;
    }
    for (uint32_t i = 0; i < kRingChunks; ++i) {
      positions_[i].dwOffset = ChunkBytes * (i + 1) - 1;  // the last byte of chunk i
      positions_[i].hEventNotify = chunk_event_.Get();
    }
    return SUCCEEDED(notify_->SetNotificationPositions(kRingChunks, positions_));
  }

  static DWORD WINAPI WorkerMain(LPVOID self) {
    static_cast<CaptureAudioDSound*>(self)->Work();
    return 0;
  }

  void Work() {
    const HANDLE events[] = {chunk_event_.Get(), stop_event_.Get()};
    constexpr DWORD kEvents = sizeof(events) / sizeof(events[0]);
    while (recording_.load()) {
      const DWORD woke = MsgWaitForMultipleObjects(kEvents, events, FALSE, INFINITE, QS_ALLEVENTS);
      if (woke == WAIT_OBJECT_0) {
        if (!ReadChunks() && recording_.exchange(false)) ShowUserMessage(kReadFailed);
      } else if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED) {
        break;  // stopping; or the events are unusable and waiting again would spin
      } else if (woke == WAIT_OBJECT_0 + kEvents) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
          if (message.message == WM_QUIT) recording_.store(false);
          TranslateMessage(&message);
          DispatchMessageA(&message);
        }
      }
    }
  }

  bool WorkerRunning() const {
    return worker_ && WaitForSingleObject(worker_.Get(), 0) == WAIT_TIMEOUT;
  }

  void EndWorker() {
    if (!worker_) return;
    recording_.store(false);
    if (stop_event_) SetEvent(stop_event_.Get());
    WaitForSingleObject(worker_.Get(), INFINITE);
    worker_.Reset();
  }

  // Hands every whole chunk between NextOffset and the read position on, oldest first.
  bool ReadChunks() {
    if (!capture_buffer_ || ring_bytes_ == 0) return false;
    DWORD capturePosition = 0;
    DWORD readPosition = 0;
    if (FAILED(capture_buffer_->GetCurrentPosition(&capturePosition, &readPosition))) return false;
    const ChunkRead plan =
        PlanChunkRead(ring_bytes_, ChunkBytes, next_offset_, readPosition % ring_bytes_);
    if (plan.Bytes() == 0) return true;  // a partial chunk waits for the next call
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (FAILED(capture_buffer_->Lock(next_offset_, plan.Bytes(), &part1, &bytes1, &part2, &bytes2,
                                     0))) {
      return false;
    }
    HandOn(part1, bytes1);
    next_offset_ = (next_offset_ + bytes1) % ring_bytes_;
    if (part2 != nullptr) {
      HandOn(part2, bytes2);
      next_offset_ = (next_offset_ + bytes2) % ring_bytes_;
    }
    capture_buffer_->Unlock(part1, bytes1, part2, bytes2);
    return true;
  }

  void HandOn(const void* data, DWORD bytes) {
    AudioDataSink* sink = sink_.load();
    if (sink != nullptr && data != nullptr && bytes != 0) {
      sink->OnAudioData(static_cast<const uint8_t*>(data), static_cast<int32_t>(bytes));
    }
  }

  ComApartment com_;  // first in, last out: every reference below is released before it
  std::atomic<bool> recording_{false};
  ComRef<IDirectSoundCapture> capture_device_;
  ComRef<IDirectSoundCaptureBuffer> capture_buffer_;
  ComRef<IDirectSoundNotify> notify_;
  GUID device_guid_{};
  WAVEFORMATEX format_{};
  DSBPOSITIONNOTIFY positions_[kRingChunks + 1]{};  // the last one stays zero
  OwnedHandle chunk_event_;
  OwnedHandle stop_event_;  // set to end the worker
  OwnedHandle worker_;
  uint32_t ring_bytes_ = 0;
  uint32_t next_offset_ = 0;
  std::atomic<AudioDataSink*> sink_{nullptr};
};

}  // namespace

std::unique_ptr<CCaptureAudio> CreateCaptureAudio() {
  return std::make_unique<CaptureAudioDSound>();
}

}  // namespace quillon
