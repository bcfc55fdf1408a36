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
    std::memcpy(&deviceGuid_, device->Guid.data(), sizeof(GUID));
    std::memset(positions_, 0, sizeof(positions_));
    ringBytes_ = 0;
    ChunkBytes = 0;
    const HRESULT hr = DirectSoundCaptureCreate(&deviceGuid_, captureDevice_.Put(), nullptr);
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
    captureBuffer_.Reset();
    captureDevice_.Reset();
    chunkEvent_.Reset();
  }

 private:
  // Starts the capture buffer and the worker; false when either cannot start.
  bool Start() {
    if (WorkerRunning()) return true;  // already recording into the same ring
    EndWorker();
    if (!CreateRing() || FAILED(captureBuffer_->Start(DSCBSTART_LOOPING))) return false;
    stopEvent_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent_) return false;
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
    if (!captureBuffer_) {
      EndWorker();
      return true;
    }
    // Ends the worker for certain (it may wait for a notification that comes only seconds
    // later, or never): from here on only this thread reads the ring.
    EndWorker();
    if (FAILED(captureBuffer_->Stop())) return true;
    // The whole chunks captured since the worker's last read; a partial chunk is dropped.
    return ReadChunks();
  }

  bool CreateRing() {
    notify_.Reset();
    captureBuffer_.Reset();
    if (ChunkBytes == 0 || ChunkBytes > kMaxChunkBytes || !captureDevice_) return false;
    ringBytes_ = ChunkBytes * kRingChunks;
    DSCBUFFERDESC description{};
    description.dwSize = sizeof(description);
    description.dwFlags = 0;
    description.dwBufferBytes = ringBytes_;
    description.lpwfxFormat = &format_;
    if (FAILED(captureDevice_->CreateCaptureBuffer(&description, captureBuffer_.Put(), nullptr))) {
      return false;
    }
    nextOffset_ = 0;
    return ArmNotifications();
  }

  bool ArmNotifications() {
    if (!captureBuffer_) return false;
    chunkEvent_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!chunkEvent_ || FAILED(captureBuffer_.As(IID_IDirectSoundNotify, &notify_))) {
      return false;
    }
    for (uint32_t i = 0; i < kRingChunks; ++i) {
      positions_[i].dwOffset = ChunkBytes * (i + 1) - 1;  // the last byte of chunk i
      positions_[i].hEventNotify = chunkEvent_.Get();
    }
    return SUCCEEDED(notify_->SetNotificationPositions(kRingChunks, positions_));
  }

  static DWORD WINAPI WorkerMain(LPVOID self) {
    static_cast<CaptureAudioDSound*>(self)->Work();
    return 0;
  }

  void Work() {
    const HANDLE events[] = {chunkEvent_.Get(), stopEvent_.Get()};
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
    if (stopEvent_) SetEvent(stopEvent_.Get());
    WaitForSingleObject(worker_.Get(), INFINITE);
    worker_.Reset();
  }

  // Hands every whole chunk between NextOffset and the read position on, oldest first.
  bool ReadChunks() {
    if (!captureBuffer_ || ringBytes_ == 0) return false;
    DWORD capturePosition = 0;
    DWORD readPosition = 0;
    if (FAILED(captureBuffer_->GetCurrentPosition(&capturePosition, &readPosition))) return false;
    const ChunkRead plan =
        PlanChunkRead(ringBytes_, ChunkBytes, nextOffset_, readPosition % ringBytes_);
    if (plan.Bytes() == 0) return true;  // a partial chunk waits for the next call
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (FAILED(
            captureBuffer_->Lock(nextOffset_, plan.Bytes(), &part1, &bytes1, &part2, &bytes2, 0))) {
      return false;
    }
    HandOn(part1, bytes1);
    nextOffset_ = (nextOffset_ + bytes1) % ringBytes_;
    if (part2 != nullptr) {
      HandOn(part2, bytes2);
      nextOffset_ = (nextOffset_ + bytes2) % ringBytes_;
    }
    captureBuffer_->Unlock(part1, bytes1, part2, bytes2);
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
  ComRef<IDirectSoundCapture> captureDevice_;
  ComRef<IDirectSoundCaptureBuffer> captureBuffer_;
  ComRef<IDirectSoundNotify> notify_;
  GUID deviceGuid_{};
  WAVEFORMATEX format_{};
  DSBPOSITIONNOTIFY positions_[kRingChunks + 1]{};  // the last one stays zero
  OwnedHandle chunkEvent_;
  OwnedHandle stopEvent_;  // set to end the worker
  OwnedHandle worker_;
  uint32_t ringBytes_ = 0;
  uint32_t nextOffset_ = 0;
  std::atomic<AudioDataSink*> sink_{nullptr};
};

}  // namespace

std::unique_ptr<CCaptureAudio> CreateCaptureAudio() {
  return std::make_unique<CaptureAudioDSound>();
}

}  // namespace quillon
