// The exported functions as the capture engine calls them, against a real local RTMP server.
#include "verbena/verbena.h"

#include "verbena/testing/encoder_params.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A light stream: small pictures, a key frame a second, mono sound at 22.05 kHz.
EncoderParams Small(const std::string& url) {
  EncoderParams params = TestEncoderParams(url.c_str(), 160, 120);
  params.Interval = 1;
  params.Quality = 0;
  params.Bitrate = 200;
  params.SamplesPerSec = 22050;
  params.Chanels = 1;
  return params;
}

// A loopback socket that listens but never answers: a frozen server.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 4);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// nginx with its RTMP module on a free port, through the project's server script.
class RtmpServer {
 public:
  RtmpServer() {
    dir_ = fs::temp_directory_path() / ("verbena-api-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::string command = Script() + " start auto " + dir_.string() + " >/dev/null";
    if (std::system(command.c_str()) != 0) return;
    FILE* file = std::fopen((dir_ / "port").c_str(), "r");
    if (file != nullptr) {
      if (std::fscanf(file, "%d", &port_) != 1) port_ = 0;
      std::fclose(file);
    }
  }
  ~RtmpServer() {
    std::string command = Script() + " stop " + dir_.string();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "server did not stop\n");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  int port() const { return port_; }
  std::string Url(const std::string& stream) const {
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/encoder/zel/mp4:" + stream + ".mp4";
  }
  uintmax_t RecordedBytes() const {
    uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir_ / "record")) total += entry.file_size();
    return total;
  }

 private:
  static std::string Script() { return std::string(QUILLON_SOURCE_DIR) + "/scripts/rtmp-server"; }
  fs::path dir_;
  int port_ = 0;
};

TEST(VerbenaApi, HandlesThatAreNotEncodersAreHarmless) {
  int foreign = 42;
  unsigned char byte = 0;
  for (void* handle : {static_cast<void*>(nullptr), static_cast<void*>(&foreign)}) {
    EXPECT_EQ(VERBENA_Start(handle), 0);
    EXPECT_EQ(VERBENA_GetAudioNofifySize(handle), 0);
    EXPECT_EQ(VERBENA_PutVideoData(handle, &byte, 1), 0);
    EXPECT_EQ(VERBENA_PutAudioData(handle, &byte, 1), 0);
    EXPECT_EQ(VERBENA_Stop(handle), 0);
    VerbenaStats stats{};
    stats.Size = sizeof stats;
    EXPECT_EQ(VERBENA_GetStats(handle, &stats), 0);
  }
  EXPECT_EQ(VERBENA_CreateEncoder(nullptr), nullptr);
  EXPECT_EQ(foreign, 42);
}

TEST(VerbenaApi, UnusableParametersFailStartAndEverythingAfterIsHarmless) {
  EncoderParams params = Small("rtmp://127.0.0.1:1/encoder/zel/mp4:1.mp4");
  params.FormatCode = 4102;
  void* encoder = VERBENA_CreateEncoder(&params);
  ASSERT_NE(encoder, nullptr);
  auto started = Clock::now();
  EXPECT_EQ(VERBENA_Start(encoder), 0);
  EXPECT_LT(Clock::now() - started, 500ms);  // refused before any connection
  std::vector<unsigned char> picture(160 * 120 * 3);
  EXPECT_EQ(VERBENA_PutVideoData(encoder, picture.data(), static_cast<int>(picture.size())), 0);
  EXPECT_EQ(VERBENA_Stop(encoder), 0);
  EXPECT_EQ(VERBENA_Stop(encoder), 0);
  EXPECT_EQ(VERBENA_Start(encoder), 0);
}

TEST(VerbenaApi, NoServerAFrozenServerOrAGarbageAddressFailWithinTheBound) {
  SilentServer silent;
  // Nothing listens on a port the silent server had a moment ago? Use one that refuses for sure.
  int refusing = 0;
  {
    SilentServer closedSoon;
    refusing = closedSoon.port();
  }
  const std::string urls[] = {
      "rtmp://127.0.0.1:" + std::to_string(refusing) + "/encoder/zel/mp4:1.mp4",
      "rtmp://127.0.0.1:" + std::to_string(silent.port()) + "/encoder/zel/mp4:1.mp4",
      "rtmp://127.0.0.1:99999/encoder/zel/mp4:1.mp4",
      "rtmp:/127.0.0.1/encoder",
      "not a url at all",
  };
  for (const std::string& url : urls) {
    EncoderParams params = Small(url);
    void* encoder = VERBENA_CreateEncoder(&params);
    auto started = Clock::now();
    EXPECT_EQ(VERBENA_Start(encoder), 0) << url;
    EXPECT_LT(Clock::now() - started, 6s) << url;
    EXPECT_EQ(VERBENA_Stop(encoder), 0);
  }
}

TEST(VerbenaApi, PublishesFromThreeThreadsRefusesWrongLengthsAndIgnoresLateCalls) {
  RtmpServer server;
  ASSERT_NE(server.port(), 0) << "the RTMP server did not start";
  EncoderParams params = Small(server.Url("424242"));
  void* encoder = VERBENA_CreateEncoder(&params);
  ASSERT_EQ(VERBENA_Start(encoder), 1);
  const int notify = VERBENA_GetAudioNofifySize(encoder);
  EXPECT_EQ(notify, 2048);  // 1024 sample frames of 16-bit mono

  std::vector<unsigned char> picture(160 * 120 * 3, 128);
  const int pictureLength = static_cast<int>(picture.size());
  EXPECT_EQ(VERBENA_PutVideoData(encoder, picture.data(), pictureLength - 3), 0);
  EXPECT_EQ(VERBENA_PutVideoData(encoder, picture.data(), pictureLength + 3), 0);
  EXPECT_EQ(VERBENA_PutVideoData(encoder, nullptr, pictureLength), 0);
  std::vector<unsigned char> sound(static_cast<size_t>(notify), 0);
  EXPECT_EQ(VERBENA_PutAudioData(encoder, sound.data(), 3), 0);

  std::atomic<bool> running{true};
  std::atomic<int> pictures{0};
  std::thread timer([&] {
    while (running) {
      picture[static_cast<size_t>(pictures) % picture.size()] ^= 0xff;  // moving content
      VERBENA_PutVideoData(encoder, picture.data(), pictureLength);
      ++pictures;
      std::this_thread::sleep_for(66ms);
    }
  });
  std::thread microphone([&] {
    while (running) {
      VERBENA_PutAudioData(encoder, sound.data(), notify);
      std::this_thread::sleep_for(46ms);
    }
  });
  VerbenaStats stats{};
  for (int i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(250ms);
    stats.Size = sizeof stats;
    EXPECT_EQ(VERBENA_GetStats(encoder, &stats), 1);
  }
  EXPECT_EQ(stats.Connected, 1u);
  // Stop while the other threads still call, as a class that ends does.
  EXPECT_EQ(VERBENA_Stop(encoder), 1);
  std::this_thread::sleep_for(150ms);
  running = false;
  timer.join();
  microphone.join();
  EXPECT_EQ(VERBENA_Stop(encoder), 0);
  EXPECT_EQ(VERBENA_PutVideoData(encoder, picture.data(), pictureLength), 0);
  EXPECT_EQ(VERBENA_PutAudioData(encoder, sound.data(), notify), 0);

  stats.Size = sizeof stats;
  ASSERT_EQ(VERBENA_GetStats(encoder, &stats), 1);
  EXPECT_EQ(stats.Connected, 0u);
  EXPECT_GE(stats.PicturesIn, 20u);
  EXPECT_EQ(stats.PicturesSent + stats.PicturesDropped, stats.PicturesIn);
  EXPECT_GT(stats.SoundBlocks, 20u);
  EXPECT_GT(stats.BytesSent, 1000u);
  EXPECT_GT(server.RecordedBytes(), stats.BytesSent / 2);

  // A shorter record from an older caller gets only what it has room for.
  VerbenaStats small{};
  small.Size = offsetof(VerbenaStats, PicturesSent);
  small.PicturesSent = 7;
  ASSERT_EQ(VERBENA_GetStats(encoder, &small), 1);
  EXPECT_EQ(small.PicturesIn, stats.PicturesIn);
  EXPECT_EQ(small.PicturesSent, 7u);
}

}  // namespace
