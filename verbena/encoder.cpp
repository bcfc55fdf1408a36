#include "verbena/encoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/log.h"
#include "verbena/program_folder.h"
#include "verbena/start_failure.h"

namespace verbena {

namespace {
// Sound may wait this long for the encoder thread before anything of it is dropped.
constexpr size_t kMaxSoundBacklogSeconds = 60;

// A small socket send buffer lets a dead link show within a second or so of data instead of
// after megabytes; half a second of the configured rate, within 32..256 KiB.
int SendBufferBytes(int bitrateKbps) {
  return std::clamp(bitrateKbps * 1000 / 8 / 2, 32 * 1024, 256 * 1024);
}
}  // namespace

Encoder::Encoder(const EncoderParams& params) : check_(CheckParams(params)) {}

Encoder::~Encoder() {
  Stop();
}

int64_t Encoder::NowUs() const {
  return av_gettime_relative() - epochUs_;
}

int Encoder::SetTrustedCA(const std::string& pemPath) {
  std::unique_lock lock(stateMutex_);
  if (state_ != State::kCreated) return 0;
  trustedCaPath_ = pemPath;
  return 1;
}

int Encoder::Start() {
  std::unique_lock lock(stateMutex_);
  if (state_ != State::kCreated) {
    Log("Start: this encoder was started before");
    return 0;
  }
  state_ = State::kFailed;  // until everything below worked
  if (!check_.ok) {
    Log("cannot start: %s", check_.error.c_str());
    if (check_.addressUnusable) stats_.startFailure = kStartFailureBadAddress;
    return 0;
  }
  InstallFfmpegLog();
  const int64_t startedUs = av_gettime_relative();
  const EncoderSettings& settings = check_.settings;

  std::string error;
  video_ = VideoEncoder::Open(settings, this, &error);
  if (video_ == nullptr) {
    Log("cannot start: %s", error.c_str());
    return 0;
  }
  LogTiming("video encoder opened");
  if (settings.sound.enabled) {
    audio_ = AudioEncoder::Open(settings.sound, this, &error);
    if (audio_ == nullptr) Log("%s: publishing without sound", error.c_str());
  } else if (!check_.soundWarning.empty()) {
    Log("%s", check_.soundWarning.c_str());
  }

  OutputOptions live;
  live.target = settings.url;
  live.live = true;
  live.video = video_->context();
  live.audio = audio_ != nullptr ? audio_->context() : nullptr;
  live.sendBufferBytes = SendBufferBytes(settings.bitrateKbps);
  trust_ = std::make_unique<TrustedAuthorities>(trustedCaPath_, ProgramFolder());
  live.caFile = trust_->CaFile();
  int leftMs = kStartTimeoutMs - static_cast<int>((av_gettime_relative() - startedUs) / 1000);
  int result = 0;
  LogTiming("sound encoder opened");
  std::unique_ptr<FlvOutput> connection = FlvOutput::Open(live, std::max(leftMs, 500), &result);
  LogTiming("connected to the server");
  if (connection == nullptr) {
    stats_.startFailure = ClassifyStartFailure(result, settings.url);
    if (result == AVERROR_EXIT)
      Log("could not publish to %s: no progress for %d s, or not publishing after %d s",
          settings.url.c_str(), kConnectProgressMs / 1000, kStartTimeoutMs / 1000);
    else
      Log("could not publish to %s: %s", settings.url.c_str(), ErrorText(result).c_str());
    Release();
    return 0;
  }

  rate_ = std::make_unique<RateControl>(settings.bitrateKbps,
                                        audio_ != nullptr ? settings.sound.bitrate / 1000 : 0);
  stats_.targetKbps = static_cast<uint32_t>(settings.bitrateKbps);
  pictures_ = std::make_unique<PictureQueue>(
      static_cast<size_t>(settings.pictureBytes), VideoEncoder::I420Bytes(settings),
      [this](const uint8_t* picture, uint8_t* slot) {
        VideoEncoder::ToI420(check_.settings, picture, slot);
      },
      kPictureQueueDepth, &wakeup_);
  if (audio_ != nullptr) {
    const size_t bytesPerSecond =
        static_cast<size_t>(settings.sound.samplesPerSecond) * settings.sound.blockBytes;
    sound_ =
        std::make_unique<SoundQueue>(static_cast<size_t>(settings.soundNotifyBytes),
                                     static_cast<size_t>(settings.sound.blockBytes), bytesPerSecond,
                                     bytesPerSecond * kMaxSoundBacklogSeconds, &wakeup_);
  }
  if (settings.record) OpenRecording();
  publisher_ = std::make_unique<Publisher>(live, std::move(connection), &stats_, &keyframeWanted_);
  epochUs_ = av_gettime_relative();
  publisher_->Start();
  thread_ = std::thread([this] { Run(); });
  state_ = State::kRunning;
  Log("publishing %dx%d at %d/s, %d kbps, x264 %s%s to %s", settings.encodedWidth,
      settings.encodedHeight, settings.frameRate, settings.bitrateKbps, settings.preset,
      audio_ != nullptr ? ", with sound" : ", without sound", settings.url.c_str());
  return 1;
}

void Encoder::OpenRecording() {
  const EncoderSettings& settings = check_.settings;
  std::string path = NewRecordingPath(ProgramFolder(), settings.streamName);
  if (path.empty()) return;
  OutputOptions file;
  file.target = path;
  file.video = video_->context();
  file.audio = audio_ != nullptr ? audio_->context() : nullptr;
  int error = 0;
  recording_ = FlvOutput::Open(file, kStartTimeoutMs, &error);
  if (recording_ == nullptr)
    Log("cannot record to %s: %s; the class is published only", path.c_str(),
        ErrorText(error).c_str());
  else
    Log("recording to %s", path.c_str());
}

void Encoder::CountSilence() {
  const int blockSamples =
      check_.settings.soundNotifyBytes / std::max(check_.settings.sound.blockBytes, 1);
  stats_.silenceBlocks = audio_->silentSamples() / static_cast<uint64_t>(std::max(blockSamples, 1));
}

int Encoder::SoundNotifySize() const {
  return check_.settings.soundNotifyBytes;
}

int Encoder::PutVideo(const uint8_t* data, int length) {
  // Never wait: while Stop changes the state, a late picture is simply not taken.
  std::shared_lock lock(stateMutex_, std::try_to_lock);
  if (!lock.owns_lock() || state_ != State::kRunning) return 0;
  const int64_t arrivalUs = NowUs();
  if (length != check_.settings.pictureBytes || data == nullptr) {
    if (!pictureRefusalReported_.exchange(true))
      Log("refused a picture of %d bytes; expected %d (%dx%dx3)", length,
          check_.settings.pictureBytes, check_.settings.width, check_.settings.height);
    return 0;
  }
  if (!pictures_->Push(data, static_cast<size_t>(length), arrivalUs)) return 0;
  ++stats_.picturesIn;
  return 1;
}

int Encoder::PutAudio(const uint8_t* data, int length) {
  std::shared_lock lock(stateMutex_, std::try_to_lock);
  if (!lock.owns_lock() || state_ != State::kRunning || sound_ == nullptr) return 0;
  const int64_t arrivalUs = NowUs();
  if (data == nullptr || length <= 0 ||
      !sound_->Push(data, static_cast<size_t>(length), arrivalUs)) {
    if (!soundRefusalReported_.exchange(true))
      Log("refused %d bytes of sound: not whole sample frames of %d bytes", length,
          check_.settings.sound.blockBytes);
    return 0;
  }
  return 1;
}

void Encoder::Run() {
  for (;;) {
    const bool stopping = stopping_;
    // Take sound and pictures in the order they arrived.
    for (;;) {
      int64_t pictureAt = pictures_->OldestArrival();
      int64_t soundAt = sound_ != nullptr ? sound_->OldestArrival() : -1;
      if (pictureAt < 0 && soundAt < 0) break;
      if (soundAt >= 0 && (pictureAt < 0 || soundAt <= pictureAt)) {
        SoundChunk* chunk = sound_->Pop();
        if (chunk != nullptr) EncodeSound(*chunk);
        sound_->Release(chunk);
      } else {
        Picture* picture = pictures_->Pop();
        if (picture != nullptr) EncodePicture(picture);
      }
    }
    if (stopping) break;
    wakeup_.Wait(100);
  }
  video_->Flush();
  if (audio_ != nullptr) {
    // The sound track lasts as long as the pictures: silence up to the end of the last one.
    const int64_t endUs =
        lastPictureMs_ < 0 ? -1 : lastPictureMs_ * 1000 + 1000000 / check_.settings.frameRate;
    audio_->Flush(endUs);
    CountSilence();
  }
  if (recording_ != nullptr) {
    recording_->Finish(kStopTimeoutMs);
    recording_.reset();
  }
  publisher_->packets().Close();
}

void Encoder::EncodePicture(Picture* picture) {
  if (lastPictureMs_ < 0) LogTiming("first picture taken by the encoder thread");
  const int64_t arrivalUs = picture->arrivalUs;
  EncodeOrLeaveOut(picture);
  // The silence trails the pictures, so it is encoded after the picture it follows: the picture
  // leaves at once. Also for a picture left out: the clock goes on.
  if (audio_ != nullptr) {
    audio_->FollowPicture(arrivalUs);
    CountSilence();
  }
}

namespace {

// The free function of a picture lent to the video encoder: back to its queue once the encoder
// is done with it.
void ReturnPicture(void* picture, uint8_t* /*data*/) {
  Picture* p = static_cast<Picture*>(picture);
  p->home->Release(p);
}

}  // namespace

void Encoder::EncodeOrLeaveOut(Picture* picture) {
  const int64_t backlogMs = publisher_->packets().BacklogMs();
  if (stats_.connected) {
    // A link slower than the class's rate: a lower rate rather than pictures left out.
    const int target =
        rate_->Update(static_cast<double>(picture->arrivalUs) / 1e6, backlogMs, stats_.bitrateKbps);
    if (target != static_cast<int>(stats_.targetKbps)) {
      video_->SetBitrate(target);
      stats_.targetKbps = static_cast<uint32_t>(target);
    }
  }
  if (stats_.connected && backlogMs > kMaxLinkBacklogMs) {
    ++leftOut_;  // even the lowest rate does not fit: fewer pictures rather than a growing delay
    pictures_->Release(picture);
    return;
  }
  int64_t ptsMs = std::max(picture->arrivalUs / 1000, lastPictureMs_ + 1);
  lastPictureMs_ = ptsMs;
  AVBufferRef* lent = av_buffer_create(picture->bytes.get(),
                                       VideoEncoder::I420Bytes(check_.settings), &ReturnPicture,
                                       picture, AV_BUFFER_FLAG_READONLY);
  if (lent == nullptr) {  // out of memory: this picture is lost, the class goes on
    ++leftOut_;
    pictures_->Release(picture);
    return;
  }
  video_->Encode(lent, ptsMs, keyframeWanted_.exchange(false));
}

void Encoder::EncodeSound(const SoundChunk& chunk) {
  const SoundSettings& sound = check_.settings.sound;
  const int64_t bytesPerSecond = int64_t{sound.samplesPerSecond} * sound.blockBytes;
  const int64_t durationUs = static_cast<int64_t>(chunk.bytes.size()) * 1000000 / bytesPerSecond;
  audio_->Add(chunk.bytes.data(), chunk.bytes.size(), chunk.endUs - durationUs);
}

void Encoder::OnPacket(const AVPacket* packet) {
  if (packet->stream_index == kVideoStream && !firstPictureEncoded_) {
    firstPictureEncoded_ = true;
    LogTiming("first picture encoded");
  }
  if (recording_ != nullptr) {
    int error = 0;
    if (!recording_->Write(packet, kStopTimeoutMs, &error)) {
      Log("the recording failed (%s) and is closed", ErrorText(error).c_str());
      recording_.reset();
    }
  }
  publisher_->packets().Push(packet);
}

int Encoder::Stop() {
  {
    std::unique_lock lock(stateMutex_);
    if (state_ != State::kRunning) {
      if (state_ == State::kCreated || state_ == State::kFailed) state_ = State::kStopped;
      return 0;
    }
    state_ = State::kStopped;  // from here on Put calls are ignored
  }
  stopping_ = true;
  wakeup_.Notify();
  if (thread_.joinable()) thread_.join();
  publisher_->Finish(kStopTimeoutMs);
  stats_.picturesDropped = pictures_->Dropped() + leftOut_;
  if (sound_ != nullptr) {
    stats_.soundBlocks = sound_->Blocks();
    if (sound_->DroppedBytes() > 0)
      Log("%llu bytes of sound were dropped: the encoder fell far behind",
          static_cast<unsigned long long>(sound_->DroppedBytes()));
  }
  Log("stopped: %llu pictures in, %llu sent, %llu dropped, %u reconnects",
      static_cast<unsigned long long>(stats_.picturesIn.load()),
      static_cast<unsigned long long>(stats_.picturesSent.load()),
      static_cast<unsigned long long>(stats_.picturesDropped.load()), stats_.reconnects.load());
  Release();
  return 1;
}

void Encoder::Release() {
  publisher_.reset();
  trust_.reset();
  recording_.reset();
  video_.reset();  // first: it may still hold pictures lent from the queue
  pictures_.reset();
  sound_.reset();
  audio_.reset();
}

int Encoder::GetStats(VerbenaStats* out) {
  if (out == nullptr || out->Size < sizeof(uint32_t)) return 0;
  VerbenaStats full{};
  full.Size = std::min<uint32_t>(out->Size, sizeof(VerbenaStats));
  {
    std::shared_lock lock(stateMutex_, std::try_to_lock);
    if (lock.owns_lock() && state_ == State::kRunning) {
      stats_.picturesDropped = pictures_->Dropped() + leftOut_;
      if (sound_ != nullptr) stats_.soundBlocks = sound_->Blocks();
    }
  }
  full.Connected = stats_.connected ? 1 : 0;
  full.PicturesIn = stats_.picturesIn;
  full.PicturesSent = stats_.picturesSent;
  full.PicturesDropped = stats_.picturesDropped;
  full.SoundBlocks = stats_.soundBlocks;
  full.BytesSent = stats_.bytesSent;
  full.BitrateKbps = stats_.bitrateKbps;
  full.Reconnects = stats_.reconnects;
  full.SilenceBlocks = stats_.silenceBlocks;
  full.FailedAttempts = stats_.failedAttempts;
  full.GaveUp = stats_.gaveUp ? 1 : 0;
  full.StartFailure = stats_.startFailure;
  full.TargetKbps = stats_.targetKbps;
  std::memcpy(out, &full, full.Size);
  return 1;
}

}  // namespace verbena
