// Sound capture on PulseAudio: a record stream from the chosen source fills an AudioRing on the
// PulseAudio loop's thread; a worker thread of ours hands every whole chunk on to the sink.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "devices/audio_ring.h"
#include "devices/capture_audio.h"
#include "devices/device_messages.h"
#include "devices/pulse_connection.h"

namespace quillon {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kServerTimeout{3000};
// The largest chunk: a ring of 16 of them stays within 256 MiB (95 s of CD sound per chunk).
constexpr uint32_t kMaxChunkBytes = 1u << 24;
constexpr const char* kReadFailed = "Error handling PulseAudio notifications.";

// The PulseAudio sample format for a PCM bit depth; PA_SAMPLE_INVALID for depths it cannot
// record (the encoder is told the same depth, so recording anything else would garble the sound).
pa_sample_format_t SampleFormatFor(uint16_t bitsPerSample) {
  switch (bitsPerSample) {
    case 8:
      return PA_SAMPLE_U8;
    case 16:
      return PA_SAMPLE_S16LE;
    case 24:
      return PA_SAMPLE_S24LE;
    case 32:
      return PA_SAMPLE_S32LE;
    default:
      return PA_SAMPLE_INVALID;
  }
}

class CaptureAudioPulse final : public CCaptureAudio {
 public:
  ~CaptureAudioPulse() override {
    EndWorker();
    Close();
  }

  bool Open(const AudioDeviceId* device) override {
    if (device == nullptr || device == NoAudioSelection()) return false;
    if (recording_.load()) return true;
    Close();
    deviceName_ = device->Name;
    ChunkBytes = 0;
    bool found = false;
    if (connection_.Connect(kServerTimeout)) {
      PulseConnection::Lock lock(connection_);
      pa_operation* query = pa_context_get_source_info_by_name(
          connection_.Context(), deviceName_.c_str(), OnSourceInfo, this);
      found_ = false;
      connection_.Complete(query, kServerTimeout);
      found = found_;
    }
    format_ = BuildFormat(SamplesPerSec, BitsPerSample, Chanels);
    if (!found) connection_.Disconnect();
    return found;
  }

  int SetRecording(bool on, AudioDataSink* sink) override {
    sink_.store(sink);
    if (!on) {
      Finish();
      return 0;
    }
    return Start() ? 0 : 1;
  }

  void Close() override {
    EndWorker();
    if (stream_ != nullptr) {
      {
        PulseConnection::Lock lock(connection_);
        DetachStream();
      }
      stream_ = nullptr;
    }
    connection_.Disconnect();
    ring_.reset();
  }

 private:
  static void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* capture = static_cast<CaptureAudioPulse*>(self);
    if (eol == 0 && info != nullptr) capture->found_ = true;
    capture->connection_.Signal();
  }

  static void OnStreamState(pa_stream* stream, void* self) {
    auto* capture = static_cast<CaptureAudioPulse*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && capture->ring_) capture->ring_->Fail();
    capture->connection_.Signal();
  }

  // On the loop's thread: moves everything the server delivered into the ring.
  static void OnStreamRead(pa_stream* stream, size_t, void* self) {
    auto* capture = static_cast<CaptureAudioPulse*>(self);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 &&
           bytes > 0) {
      // A hole (data without bytes) is sound the server lost: keep the timing with silence.
      capture->ring_->Write(static_cast<const uint8_t*>(data), bytes);
      pa_stream_drop(stream);
    }
  }

  // Starts the record stream and the worker; false when the stream cannot be made ready.
  bool Start() {
    if (recording_.load()) return true;  // already recording into the same ring
    EndWorker();                         // a worker that ended on a failed read
    if (!connection_.Connected() || ChunkBytes == 0 || ChunkBytes > kMaxChunkBytes) return false;
    pa_sample_spec sample;
    sample.format = SampleFormatFor(format_.BitsPerSample);
    sample.rate = format_.SamplesPerSec;
    sample.channels = static_cast<uint8_t>(format_.Channels);
    if (format_.Channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&sample)) return false;

    if (stream_ != nullptr) {
      PulseConnection::Lock lock(connection_);
      DetachStream();
      stream_ = nullptr;
    }
    ring_ = std::make_unique<AudioRing>(ChunkBytes);
    bool ready = false;
    {
      PulseConnection::Lock lock(connection_);
      stream_ = pa_stream_new(connection_.Context(), "Class sound", &sample, nullptr);
      if (stream_ == nullptr) return false;
      pa_stream_set_state_callback(stream_, OnStreamState, this);
      pa_stream_set_read_callback(stream_, OnStreamRead, this);
      pa_buffer_attr attr;
      attr.maxlength = static_cast<uint32_t>(-1);
      attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
      attr.fragsize = ChunkBytes;  // the server hands over about one chunk at a time
      if (pa_stream_connect_record(stream_, deviceName_.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) ==
          0) {
        connection_.WaitUntil(
            [this] {
              const pa_stream_state_t state = pa_stream_get_state(stream_);
              return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            kServerTimeout);
        ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
      }
    }
    if (!ready) return false;
    recording_.store(true);
    worker_ = std::thread([this] { Work(); });
    return true;
  }

  void Finish() {
    recording_.store(false);
    if (stream_ == nullptr) return;
    EndWorker();
    // The capture stops: no sound reaches the ring from here on.
    bool stopped = false;
    {
      PulseConnection::Lock lock(connection_);
      stopped = PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
      DetachStream();
      stream_ = nullptr;
    }
    // The whole chunks captured since the worker's last read; a partial chunk is dropped.
    if (stopped && ring_) ring_->ReadChunks([this](const uint8_t* d, uint32_t n) { HandOn(d, n); });
  }

  // With the loop locked: stops the stream's callbacks and lets the server end the stream.
  void DetachStream() {
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }

  void EndWorker() {
    if (!worker_.joinable()) return;
    ring_->RequestStop();
    worker_.join();
  }

  void Work() {
    while (recording_.load()) {
      if (!ring_->WaitForChunks()) {
        if (ring_->Failed() && recording_.exchange(false)) ShowUserMessage(kReadFailed);
        break;
      }
      ring_->ReadChunks([this](const uint8_t* d, uint32_t n) { HandOn(d, n); });
    }
  }

  void HandOn(const uint8_t* data, uint32_t bytes) {
    if (AudioDataSink* sink = sink_.load()) sink->OnAudioData(data, static_cast<int32_t>(bytes));
  }

  PulseConnection connection_;
  std::string deviceName_;
  PcmFormat format_;
  pa_stream* stream_ = nullptr;
  std::unique_ptr<AudioRing> ring_;
  std::thread worker_;
  std::atomic<bool> recording_{false};
  std::atomic<AudioDataSink*> sink_{nullptr};
  bool found_ = false;  // answer of the source query, under the loop's lock
};

}  // namespace

std::unique_ptr<CCaptureAudio> CreateCaptureAudio() {
  return std::make_unique<CaptureAudioPulse>();
}

}  // namespace quillon
