// Test and bench driver for the encoder library: loads libverbena.so (Verbena.dll on Windows) by
// path, as the program does, and publishes synthetic moving pictures and a 440 Hz tone (or pictures
// and sound read from files) through the six functions, from a picture thread and a sound thread,
// for a given time. Prints what happened as key=value lines.
//
//   verbena_driver publish LIBRARY URL [options]
//     --seconds N  --width W  --height H  --rate R  --bitrate K  --quality Q  --interval S
//     --record 0|1  --sound 0|1  --frames FILE (raw BGR bottom-up pictures, looped)
//     --pcm FILE (raw 16-bit stereo 44.1 kHz, looped)  --sound-after S (no sound for S seconds)
//     --trusted-ca FILE (VERBENA_SetTrustedCA before Start)
//     --trace 1 (a line "trace SECONDS TARGET_KBPS SENT_KBPS PICTURES_IN DROPPED CONNECTED
//                RECONNECTS" each second)
//   verbena_driver cpu COMMAND [ARGS...]   runs a command and prints its user+sys CPU seconds
//                                          (not on Windows)
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "verbena/testing/encoder_params.h"
#include "verbena/verbena.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Library {
  decltype(&VERBENA_CreateEncoder) create = nullptr;
  decltype(&VERBENA_Start) start = nullptr;
  decltype(&VERBENA_GetAudioNofifySize) notifySize = nullptr;
  decltype(&VERBENA_PutVideoData) putVideo = nullptr;
  decltype(&VERBENA_PutAudioData) putAudio = nullptr;
  decltype(&VERBENA_Stop) stop = nullptr;
  decltype(&VERBENA_GetStats) stats = nullptr;
  decltype(&VERBENA_SetTrustedCA) setTrustedCa = nullptr;

  bool Load(const char* path) {
#ifdef _WIN32
    HMODULE handle = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle == nullptr) {
      std::fprintf(stderr, "driver: cannot load %s (error %lu)\n", path, GetLastError());
      return false;
    }
    auto symbol = [handle](const char* name) {
      return reinterpret_cast<void*>(GetProcAddress(handle, name));
    };
#else
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "driver: %s\n", dlerror());
      return false;
    }
    auto symbol = [handle](const char* name) { return dlsym(handle, name); };
#endif
    bool all = true;
    auto get = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol(name));
      all = all && function != nullptr;
    };
    get(create, "VERBENA_CreateEncoder");
    get(start, "VERBENA_Start");
    get(notifySize, "VERBENA_GetAudioNofifySize");
    get(putVideo, "VERBENA_PutVideoData");
    get(putAudio, "VERBENA_PutAudioData");
    get(stop, "VERBENA_Stop");
    get(stats, "VERBENA_GetStats");
    get(setTrustedCa, "VERBENA_SetTrustedCA");
    return all;
  }
};

#ifndef _WIN32
double Seconds(const rusage& usage) {  // user + sys
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
#endif

// This process's CPU time; 0 on Windows, where bench/verbena_wine_bench measures it from outside.
double CpuSeconds() {
#ifdef _WIN32
  return 0;
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage);
#endif
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A picture whose top half is red and bottom half blue (rows stored bottom-up), with a white bar
// that moves across, one column step per picture.
void DrawPicture(std::vector<uint8_t>& picture, int width, int height, int index) {
  const int bar = (index * 8) % std::max(width - 16, 1);
  for (int row = 0; row < height; ++row) {
    const bool topHalf = row >= height / 2;  // rows are bottom-up
    uint8_t* line = picture.data() + static_cast<size_t>(row) * width * 3;
    for (int x = 0; x < width; ++x) {
      uint8_t* p = line + x * 3;
      if (x >= bar && x < bar + 16) {
        p[0] = p[1] = p[2] = 255;
      } else if (topHalf) {
        p[0] = 30, p[1] = 30, p[2] = 220;  // blue, green, red
      } else {
        p[0] = 220, p[1] = 30, p[2] = 30;
      }
    }
  }
}

int Publish(int argc, char** argv) {
  if (argc < 4) return 2;
  Library lib;
  if (!lib.Load(argv[2])) return 1;
  EncoderParams params = TestEncoderParams(argv[3]);
  double seconds = 4, soundAfter = 0;
  int32_t sound = 1, trace = 0;
  std::string framesFile, pcmFile, trustedCa;
  // clang-format off
  const std::map<std::string, int32_t*> numbers = {
      {"--width", &params.Width}, {"--height", &params.Height}, {"--rate", &params.FrameRate},
      {"--bitrate", &params.Bitrate}, {"--quality", &params.Quality},
      {"--interval", &params.Interval}, {"--record", &params.Record}, {"--sound", &sound},
      {"--trace", &trace}};
  const std::map<std::string, double*> times = {{"--seconds", &seconds},
                                                {"--sound-after", &soundAfter}};
  const std::map<std::string, std::string*> files = {{"--frames", &framesFile},
                                                     {"--pcm", &pcmFile},
                                                     {"--trusted-ca", &trustedCa}};
  // clang-format on
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (numbers.contains(key)) {
      *numbers.at(key) = std::atoi(argv[i + 1]);
    } else if (times.contains(key)) {
      *times.at(key) = std::atof(argv[i + 1]);
    } else if (files.contains(key)) {
      *files.at(key) = argv[i + 1];
    } else {
      return 2;
    }
  }

  // Everything the driver itself makes is made before the clock starts.
  const size_t pictureBytes = static_cast<size_t>(params.Width) * params.Height * 3;
  std::vector<std::vector<uint8_t>> pictures;
  if (!framesFile.empty()) {
    std::vector<uint8_t> all = ReadFile(framesFile);
    for (size_t at = 0; at + pictureBytes <= all.size(); at += pictureBytes)
      pictures.emplace_back(all.begin() + static_cast<ptrdiff_t>(at),
                            all.begin() + static_cast<ptrdiff_t>(at + pictureBytes));
  } else {
    for (int i = 0; i < params.FrameRate * 4; ++i) {
      pictures.emplace_back(pictureBytes);
      DrawPicture(pictures.back(), params.Width, params.Height, i);
    }
  }
  if (pictures.empty()) {
    std::fprintf(stderr, "driver: no pictures in %s\n", framesFile.c_str());
    return 1;
  }
  std::vector<uint8_t> pcm = pcmFile.empty() ? std::vector<uint8_t>() : ReadFile(pcmFile);
  if (pcm.empty()) {  // one second of 440 Hz, a whole number of periods, so it loops seamlessly
    pcm.resize(44100 * 4);
    for (int i = 0; i < 44100; ++i) {
      auto sample = static_cast<int16_t>(
          std::lround(8000 * std::sin(2 * std::numbers::pi * 440 * i / 44100)));
      for (int channel = 0; channel < 2; ++channel)
        std::memcpy(&pcm[static_cast<size_t>(i) * 4 + channel * 2], &sample, 2);
    }
  }

  const double cpuBefore = CpuSeconds();
  void* encoder = lib.create(&params);
  if (!trustedCa.empty() && lib.setTrustedCa(encoder, trustedCa.c_str()) != 1) return 1;
  auto started = Clock::now();
  int startResult = lib.start(encoder);
  std::printf("start_result=%d\nstart_ms=%.0f\n", startResult, MsSince(started));
  if (startResult == 0) {
    VerbenaStats failed{};
    failed.Size = sizeof failed;
    lib.stats(encoder, &failed);
    std::printf("start_failure=%u\n", failed.StartFailure);
    lib.stop(encoder);
    return 3;
  }
  const int notify = lib.notifySize(encoder);
  std::printf("notify_bytes=%d\n", notify);

  std::atomic<double> maxVideoMs{0}, maxAudioMs{0};
  auto keepMax = [](std::atomic<double>& max, double value) {
    double seen = max;
    while (value > seen && !max.compare_exchange_weak(seen, value)) {
    }
  };
  const auto begin = Clock::now();
  // The wall clock at the encoder's time 0 (about: Start has just returned), for lag measurements.
  std::printf("begin_unix_ms=%lld\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count()));
  std::fflush(stdout);
  const auto end =
      begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::thread pictureThread([&] {
    const auto period = std::chrono::nanoseconds(1000000000LL / params.FrameRate);
    auto next = begin;
    for (size_t i = 0; next < end; ++i, next += period) {
      std::this_thread::sleep_until(next);
      auto t = Clock::now();
      lib.putVideo(encoder, pictures[i % pictures.size()].data(), static_cast<int>(pictureBytes));
      keepMax(maxVideoMs, MsSince(t));
    }
  });
  std::thread soundThread([&] {
    if (!sound) return;
    const size_t chunk = static_cast<size_t>(notify);
    const auto period = std::chrono::nanoseconds(static_cast<int64_t>(chunk / 4 * 1e9 / 44100));
    // A chunk is handed over once it has been captured.
    auto next =
        begin + period +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(soundAfter));
    for (size_t at = 0; next <= end; next += period, at = (at + chunk) % pcm.size()) {
      std::this_thread::sleep_until(next);
      // The tone buffer is a whole number of chunks long only by luck; wrap by copying.
      static thread_local std::vector<uint8_t> piece(chunk);
      for (size_t k = 0; k < chunk; ++k) piece[k] = pcm[(at + k) % pcm.size()];
      auto t = Clock::now();
      lib.putAudio(encoder, piece.data(), static_cast<int>(chunk));
      keepMax(maxAudioMs, MsSince(t));
    }
  });
  // The window thread polls the status now and then, as the program's display would.
  VerbenaStats stats{};
  for (int poll = 1; Clock::now() < end; ++poll) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    stats.Size = sizeof stats;
    lib.stats(encoder, &stats);
    if (trace && poll % 4 == 0)
      std::printf("trace %.1f %u %u %llu %llu %u %u\n", MsSince(begin) / 1000, stats.TargetKbps,
                  stats.BitrateKbps, static_cast<unsigned long long>(stats.PicturesIn),
                  static_cast<unsigned long long>(stats.PicturesDropped), stats.Connected,
                  stats.Reconnects);
  }
  pictureThread.join();
  soundThread.join();
  auto stopping = Clock::now();
  lib.stop(encoder);
  double stopMs = MsSince(stopping);
  const double cpu = CpuSeconds() - cpuBefore;
  stats.Size = sizeof stats;
  lib.stats(encoder, &stats);
  // Calls after Stop do nothing.
  int late =
      lib.putVideo(encoder, pictures[0].data(), static_cast<int>(pictureBytes)) + lib.stop(encoder);
  std::printf(
      "stop_ms=%.0f\nmax_put_video_ms=%.2f\nmax_put_audio_ms=%.2f\npictures_in=%llu\n"
      "pictures_sent=%llu\npictures_dropped=%llu\nsound_blocks=%llu\nbytes_sent=%llu\n"
      "reconnects=%u\nsilence_blocks=%llu\nfailed_attempts=%u\ngave_up=%u\nlate_calls=%d\n"
      "cpu_seconds=%.3f\n",
      stopMs, maxVideoMs.load(), maxAudioMs.load(),
      static_cast<unsigned long long>(stats.PicturesIn),
      static_cast<unsigned long long>(stats.PicturesSent),
      static_cast<unsigned long long>(stats.PicturesDropped),
      static_cast<unsigned long long>(stats.SoundBlocks),
      static_cast<unsigned long long>(stats.BytesSent), stats.Reconnects,
      static_cast<unsigned long long>(stats.SilenceBlocks), stats.FailedAttempts, stats.GaveUp,
      late, cpu);
  return 0;
}

// Runs a command (stdin, stdout and stderr inherited) and prints the CPU time it used.
int Cpu(char** command) {
#ifdef _WIN32
  std::fprintf(stderr, "driver: cpu %s: not on Windows; run it from the Linux driver\n",
               command[0]);
  return 2;
#else
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    execvp(command[0], command);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) return 1;
  std::printf("cpu_seconds=%.3f\nexit_status=%d\n", Seconds(usage),
              WIFEXITED(status) ? WEXITSTATUS(status) : 128);
  return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "cpu") == 0) return Cpu(argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "publish") == 0) return Publish(argc, argv);
  std::fprintf(stderr, "usage: verbena_driver publish LIBRARY URL [options] | cpu COMMAND...\n");
  return 2;
}
