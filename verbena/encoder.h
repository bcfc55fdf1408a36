// One encoder handle: the parameters, the hand-over queues, the encoder thread that converts and
// encodes, the optional local recording, and the publisher that owns the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>

#include "verbena/audio_encoder.h"
#include "verbena/encoder_settings.h"
#include "verbena/flv_output.h"
#include "verbena/publisher.h"
#include "verbena/queues.h"
#include "verbena/rate_control.h"
#include "verbena/stats.h"
#include "verbena/tls_trust.h"
#include "verbena/verbena.h"
#include "verbena/video_encoder.h"

namespace verbena {

class Encoder final : private PacketSink {
 public:
  // Pictures that may wait for the encoder thread before the oldest is dropped.
  static constexpr size_t kPictureQueueDepth = 4;
  // The encoder leaves pictures out while this much encoded data waits for the link.
  static constexpr int64_t kMaxLinkBacklogMs = 700;
  static constexpr int kStartTimeoutMs = kConnectLimitMs;
  static constexpr int kStopTimeoutMs = 2000;

  explicit Encoder(const EncoderParams& params);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Before Start: a PEM file of authorities rtmps:// trusts besides the system's; 0 after Start.
  int SetTrustedCA(const std::string& pemPath);
  int Start();
  int SoundNotifySize() const;
  int PutVideo(const uint8_t* data, int length);
  int PutAudio(const uint8_t* data, int length);
  int Stop();
  int GetStats(VerbenaStats* stats);

 private:
  enum class State { kCreated, kRunning, kFailed, kStopped };

  void Run();
  // Both take the picture: it goes back to the queue once it is encoded or left out.
  void EncodePicture(Picture* picture);
  void EncodeOrLeaveOut(Picture* picture);  // the link may be too slow for it
  void EncodeSound(const SoundChunk& chunk);
  void OpenRecording();
  void OnPacket(const AVPacket* packet) override;
  int64_t NowUs() const;
  void CountSilence();  // encoder thread: silence on the sound track into the stats
  void Release();

  const CheckResult check_;
  std::shared_mutex stateMutex_;  // Put holds it shared, Start and Stop change the state
  State state_ = State::kCreated;
  int64_t epochUs_ = 0;
  Stats stats_;
  Wakeup wakeup_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> keyframeWanted_{false};
  std::atomic<uint64_t> leftOut_{0};
  std::atomic<bool> pictureRefusalReported_{false};  // one message per class, not per picture
  std::atomic<bool> soundRefusalReported_{
      false};  // pictures the encoder thread left out for the link
  std::unique_ptr<PictureQueue> pictures_;
  std::unique_ptr<SoundQueue> sound_;
  std::unique_ptr<VideoEncoder> video_;
  std::unique_ptr<RateControl> rate_;  // the encoder thread's
  std::unique_ptr<AudioEncoder> audio_;
  std::unique_ptr<FlvOutput> recording_;
  std::string trustedCaPath_;                  // as the caller named it
  std::unique_ptr<TrustedAuthorities> trust_;  // from Start on; outlives the publisher
  std::unique_ptr<Publisher> publisher_;
  std::thread thread_;
  int64_t lastPictureMs_ = -1;  // encoder thread only
  bool firstPictureEncoded_ = false;  // encoder thread only, for the timing log
};

}  // namespace verbena
