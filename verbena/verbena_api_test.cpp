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
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string UrlAt(int port, const std::string& stream = "1") {
  return "rtmp://127.0.0.1:" + std::to_string(port) + "/encoder/zel/mp4:" + stream + ".mp4";
}

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
struct SilentServer {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;

  SilentServer() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd, 4);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd); }
};

// nginx with its RTMP module on a free port, through the project's server script.
struct RtmpServer {
  fs::path dir = fs::temp_directory_path() / ("verbena-api-" + std::to_string(getpid()));
  int port = 0;

  RtmpServer() {
    fs::create_directories(dir);
    if (Script("start auto") == 0) std::ifstream(dir / "port") >> port;
  }
  ~RtmpServer() {
    if (Script("stop") != 0) std::fprintf(stderr, "server did not stop\n");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  int Script(const std::string& command) const {
    std::string line = QUILLON_SOURCE_DIR "/scripts/rtmp-server " + command + " " + dir.string();
    return std::system((line + " >/dev/null").c_str());
  }
  uintmax_t RecordedBytes() const {
    uintmax_t total = 0;
    for (const auto& entry : fs::directory_iterator(dir / "record")) total += entry.file_size();
    return total;
  }
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

TEST(VerbenaApi, AFailedStartEndsWithinItsBoundAndLeavesEveryCallHarmless) {
  SilentServer silent;
  struct Case {
    std::string url;
    int formatCode;
    Clock::duration bound;
    uint32_t failure;  // the StartFailure the statistics give
  };
  // Unusable parameters are refused before any connection; a refusing port (the temporary
  // server is gone by then), a frozen server and garbage addresses within the connection bound.
  const Case cases[] = {
      {UrlAt(silent.port), 4102, 500ms, 0},     {UrlAt(SilentServer().port), 4103, 6s, 2},
      {UrlAt(silent.port), 4103, 6s, 1},        {UrlAt(99999), 4103, 6s, 5},
      {"rtmp:/127.0.0.1/encoder", 4103, 6s, 6}, {"not a url at all", 4103, 6s, 6}};
  std::vector<unsigned char> picture(160 * 120 * 3);
  for (const Case& c : cases) {
    EncoderParams params = Small(c.url);
    params.FormatCode = c.formatCode;
    void* encoder = VERBENA_CreateEncoder(&params);
    ASSERT_NE(encoder, nullptr);
    auto started = Clock::now();
    EXPECT_EQ(VERBENA_Start(encoder), 0) << c.url;
    EXPECT_LT(Clock::now() - started, c.bound) << c.url;
    VerbenaStats stats{};
    stats.Size = sizeof stats;
    EXPECT_EQ(VERBENA_GetStats(encoder, &stats), 1);
    EXPECT_EQ(stats.StartFailure, c.failure) << c.url;
    EXPECT_EQ(VERBENA_PutVideoData(encoder, picture.data(), static_cast<int>(picture.size())), 0);
    EXPECT_EQ(VERBENA_Stop(encoder), 0);
    EXPECT_EQ(VERBENA_Stop(encoder), 0);
    EXPECT_EQ(VERBENA_Start(encoder), 0) << c.url;
  }
}

TEST(VerbenaApi, PublishesFromThreeThreadsRefusesWrongLengthsAndIgnoresLateCalls) {
  RtmpServer server;
  ASSERT_NE(server.port, 0) << "the RTMP server did not start";
  EncoderParams params = Small(UrlAt(server.port, "424242"));
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
  std::thread timer([&] {
    for (size_t i = 0; running; ++i) {
      picture[i % picture.size()] ^= 0xff;  // moving content
      VERBENA_PutVideoData(encoder, picture.data(), pictureLength);
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
  stats.Size = sizeof stats;
  for (int i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(250ms);
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
