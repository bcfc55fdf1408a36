// A live output writing into a pipe, read back tag by tag as a viewer's server would get them.
#include "verbena/flv_output.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "verbena/audio_encoder.h"
#include "verbena/encoder_settings.h"
#include "verbena/log.h"
#include "verbena/testing/encoder_params.h"
#include "verbena/video_encoder.h"

namespace verbena {
namespace {

struct Tag {
  bool video = false;
  bool media = false;  // a picture or a sound frame rather than a codec header
  int64_t ms = 0;
};

// The FLV tags that have come out of the pipe so far.
class FlvPipe {
 public:
  FlvPipe() {
    EXPECT_EQ(pipe(fds_), 0);
    fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  }
  ~FlvPipe() {
    close(fds_[0]);
    close(fds_[1]);
  }
  FlvPipe(const FlvPipe&) = delete;
  FlvPipe& operator=(const FlvPipe&) = delete;

  std::string target() const { return "pipe:" + std::to_string(fds_[1]); }

  const std::vector<Tag>& Read() {
    uint8_t chunk[4096];
    ssize_t got = 0;
    while ((got = read(fds_[0], chunk, sizeof chunk)) > 0)
      bytes_.insert(bytes_.end(), chunk, chunk + got);
    if (!headerSeen_ && bytes_.size() >= 13) {
      EXPECT_EQ(std::string(bytes_.begin(), bytes_.begin() + 3), "FLV");
      bytes_.erase(bytes_.begin(), bytes_.begin() + 13);
      headerSeen_ = true;
    }
    while (headerSeen_ && bytes_.size() >= 11) {
      const size_t size = (size_t{bytes_[1]} << 16) | (size_t{bytes_[2]} << 8) | bytes_[3];
      if (bytes_.size() < 11 + size + 4) break;
      Tag tag;
      tag.video = bytes_[0] == 9;
      // The packet type after the codec byte: 1 is a picture (AVC NAL units) or raw AAC.
      tag.media = (bytes_[0] == 9 || bytes_[0] == 8) && size >= 2 && bytes_[12] == 1;
      tag.ms = (int64_t{bytes_[7]} << 24) | (int64_t{bytes_[4]} << 16) | (int64_t{bytes_[5]} << 8) |
               bytes_[6];
      if (tag.media) tags_.push_back(tag);
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(11 + size + 4));
    }
    return tags_;
  }

 private:
  int fds_[2] = {-1, -1};
  std::vector<uint8_t> bytes_;
  bool headerSeen_ = false;
  std::vector<Tag> tags_;  // pictures and sound frames
};

// Both encoders writing into one output, as the encoder thread does.
struct Sink final : PacketSink {
  std::unique_ptr<FlvOutput> output;
  void OnPacket(const AVPacket* packet) override {
    int error = 0;
    EXPECT_TRUE(output->Write(packet, 1000, &error)) << ErrorText(error);
  }
};

TEST(FlvOutput, ALiveStreamSendsEachPictureAtOnceWhileSilenceTrailsIt) {
  const CheckResult check = CheckParams(TestEncoderParams("rtmp://127.0.0.1/live/a", 64, 48));
  ASSERT_TRUE(check.ok && check.settings.sound.enabled);
  InstallFfmpegLog();  // FFmpeg's errors only
  FlvPipe pipe;
  Sink sink;
  std::string error;
  std::unique_ptr<VideoEncoder> video = VideoEncoder::Open(check.settings, &sink, &error);
  ASSERT_NE(video, nullptr) << error;
  std::unique_ptr<AudioEncoder> audio = AudioEncoder::Open(check.settings.sound, &sink, &error);
  ASSERT_NE(audio, nullptr) << error;
  OutputOptions options;
  options.target = pipe.target();
  options.live = true;
  options.video = video->context();
  options.audio = audio->context();
  int result = 0;
  sink.output = FlvOutput::Open(options, 5000, &result);
  ASSERT_NE(sink.output, nullptr) << ErrorText(result);

  // No sound device: only the pictures move the sound track on, with silence behind them.
  const BufferPtr picture(av_buffer_alloc(VideoEncoder::I420Bytes(check.settings)));
  ASSERT_NE(picture, nullptr);
  std::memset(picture->data, 0x80, picture->size);
  constexpr int64_t kStartMs = 1000, kStepMs = 66, kPictures = 30;
  for (int64_t i = 0; i < kPictures; ++i) {
    const int64_t ms = kStartMs + i * kStepMs;
    ASSERT_TRUE(video->Encode(av_buffer_ref(picture.get()), ms, false));
    audio->FollowPicture(ms * 1000);  // as the encoder thread does: the picture first
    int64_t newest = -1;
    for (const Tag& tag : pipe.Read())
      if (tag.video) newest = tag.ms;
    ASSERT_EQ(newest, i * kStepMs) << "picture " << i << " is held back";
  }
  const int64_t endMs = kStartMs + kPictures * kStepMs;
  audio->Flush(endMs * 1000);
  video->Flush();
  sink.output->Finish(1000);

  // The sound track starts with the first picture and runs on without a gap to the end of the
  // last one; each track is in order.
  int64_t lastSound = -1, lastPicture = -1, pictures = 0;
  for (const Tag& tag : pipe.Read()) {
    if (tag.video) {
      EXPECT_GT(tag.ms, lastPicture);
      lastPicture = tag.ms;
      ++pictures;
      continue;
    }
    if (lastSound < 0)
      EXPECT_LE(tag.ms, 23) << "the sound starts late";
    else
      EXPECT_TRUE(tag.ms - lastSound == 23 || tag.ms - lastSound == 24)
          << "sound frames at " << lastSound << " and " << tag.ms << " ms";
    lastSound = tag.ms;
  }
  EXPECT_EQ(pictures, kPictures);
  EXPECT_GE(lastSound + 23, endMs - kStartMs);
}

}  // namespace
}  // namespace verbena
