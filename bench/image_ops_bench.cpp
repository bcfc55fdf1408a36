// Speed of the picture operations of the frame tick, side by side with libyuv doing the same
// reductions and with a plain copy of the desktop picture as the floor.
//
// The anchors: libyuv's ARGBScale on 32-bit pixels (its fastest scaler; at exactly half size its
// "bilinear" is a 2x2 box average, and kFilterBox at a quarter is a 4x4 box), and libyuv's
// RGBScale on the same 24-bit pictures as ours (it converts to 32-bit pixels, scales and
// converts back).
//
// First argument: the instruction set (image_ops_internal::SimdLevel), for our rows and for
// libyuv's (through its own flags), as on a processor that has no more than that.
//
// Second argument 0 ("hot"): every iteration reads the same source picture, which stays in the
// processor's caches. 1 ("fresh"): the iterations take turns over enough source pictures to
// overflow the caches, as a frame tick does with a newly grabbed desktop.
//
// ScaleDownHalving uses its source as work space; for 1920x1080 -> 480x270 it runs exactly one
// halving step, which reads the source and writes the work buffer, so the source stays intact
// and every iteration does the same work on the same picture.
#include <benchmark/benchmark.h>
#include <libyuv/cpu_id.h>
#include <libyuv/scale_argb.h>
#include <libyuv/scale_rgb.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "capture/image_ops.h"
#include "capture/image_ops_internal.h"

namespace quillon {
namespace {

using image_ops_internal::SimdLevel;

constexpr size_t kCacheOverflowBytes = size_t(96) << 20;

// Source pictures of `bytes` each with random contents: one, or (fresh) enough to overflow the
// caches when taken in turn.
class Sources {
 public:
  Sources(size_t bytes, bool fresh) : bytes_(bytes) {
    const size_t count = fresh ? kCacheOverflowBytes / bytes + 1 : 1;
    data_.resize(bytes * count);
    // One random picture, copied: the caches keep addresses, not contents, and a random fill of
    // 96 MiB for every repetition would take longer than the measurement.
    std::mt19937 random(1);
    for (size_t i = 0; i < bytes; ++i) data_[i] = static_cast<uint8_t>(random());
    for (size_t n = 1; n < count; ++n) std::memcpy(&data_[n * bytes], data_.data(), bytes);
  }
  uint8_t* Next() {
    uint8_t* picture = data_.data() + next_;
    next_ = (next_ + bytes_) % data_.size();
    return picture;
  }
  size_t bytes() const { return bytes_; }

 private:
  size_t bytes_;
  std::vector<uint8_t> data_;
  size_t next_ = 0;
};

bool Fresh(benchmark::State& state, int argument) {
  return state.range(argument) != 0;
}

// libyuv's own flags for the processors of each of our levels: an AVX2 processor has the SSE4,
// AVX, FMA3 and F16C of its time too.
int LibyuvFlags(SimdLevel level) {
  constexpr int kInitialized = 1;
  constexpr int kSse2 = kInitialized | libyuv::kCpuHasX86 | libyuv::kCpuHasSSE2;
  constexpr int kSsse3 = kSse2 | libyuv::kCpuHasSSSE3;
  constexpr int kAvx2 = kSsse3 | libyuv::kCpuHasSSE41 | libyuv::kCpuHasSSE42 | libyuv::kCpuHasAVX |
                        libyuv::kCpuHasAVX2 | libyuv::kCpuHasERMS | libyuv::kCpuHasFMA3 |
                        libyuv::kCpuHasF16C;
  switch (level) {
    case SimdLevel::kScalar:
      return kInitialized;
    case SimdLevel::kSse2:
      return kSse2;
    case SimdLevel::kSsse3:
      return kSsse3;
    case SimdLevel::kAvx2:
      return kAvx2;
    default:
      return -1;
  }
}

// Chooses the instruction set given as the benchmark's first argument for its run, for our rows
// and libyuv's alike, as on a processor that has no more.
class SimdChoice {
 public:
  explicit SimdChoice(benchmark::State& state) {
    const auto wanted = static_cast<SimdLevel>(state.range(0));
    if (image_ops_internal::SetSimdLevel(wanted) != wanted) state.SkipWithError("not available");
    libyuv::MaskCpuFlags(LibyuvFlags(wanted));
    constexpr const char* kNames[] = {"c", "sse2", "ssse3", "avx2", "avx512"};
    state.SetLabel(kNames[static_cast<int>(wanted)]);
  }
  ~SimdChoice() {
    image_ops_internal::SetSimdLevel(image_ops_internal::BestSimdLevel());
    libyuv::MaskCpuFlags(-1);
  }
};

// Runs `work`(source picture) per iteration and reports the source bytes read per second.
template <class Work>
void Measure(benchmark::State& state, Sources& sources, void* destination, Work work) {
  for (auto _ : state) {
    work(sources.Next());
    benchmark::DoNotOptimize(destination);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(sources.bytes()));
}

// Reduces a desktop picture (1920x1080 unless told) to width x height with `reduce`.
template <class Reduce>
void ReduceDesktop(benchmark::State& state, int32_t width, int32_t height, Reduce reduce,
                   int32_t source_width = 1920, int32_t source_height = 1080) {
  SimdChoice choice(state);
  Sources sources(size_t(source_width) * size_t(source_height) * 3, Fresh(state, 1));
  std::vector<uint8_t> destination(size_t(width) * size_t(height) * 3);
  const ImageView d = MakeImageView(destination.data(), width, height);
  Measure(state, sources, destination.data(),
          [&](uint8_t* source) { reduce(d, MakeImageView(source, source_width, source_height)); });
}

void BM_ScaleBilinear_1920x1080_to_960x540(benchmark::State& state) {
  ReduceDesktop(state, 960, 540, ScaleBilinear);
}

void BM_ScaleDownHalving_1920x1080_to_480x270(benchmark::State& state) {
  ReduceDesktop(state, 480, 270, ScaleDownHalving);
}

// A 1366x768 screen: the first halving is exact, the second (683 -> 341) is not.
void BM_ScaleDownHalving_1366x768_to_341x192(benchmark::State& state) {
  ReduceDesktop(state, 341, 192, ScaleDownHalving, 1366, 768);
}

void BM_PasteScaledNearest_640x480_into_480x270(benchmark::State& state) {
  Sources camera(640 * 480 * 3, false);
  std::vector<uint8_t> screen(1920 * 1080 * 3);
  const ImageView s = MakeImageView(screen.data(), 1920, 1080);
  const ImageView size = MakeImageView(nullptr, 480, 270);
  Measure(state, camera, screen.data(), [&](uint8_t* source) {
    PasteScaledNearest(s, 1440, 810, size, MakeImageView(source, 640, 480));
  });
}

// libyuv reduces a 1920x1080 picture of `pixel_bytes` bytes a pixel to width x height.
void Libyuv(benchmark::State& state, int pixel_bytes, int width, int height,
            libyuv::FilterMode filter) {
  SimdChoice choice(state);
  Sources sources(size_t(1920) * 1080 * size_t(pixel_bytes), Fresh(state, 1));
  std::vector<uint8_t> destination(size_t(width) * size_t(height) * size_t(pixel_bytes));
  uint8_t* d = destination.data();
  Measure(state, sources, d, [&](uint8_t* source) {
    if (pixel_bytes == 4) {
      libyuv::ARGBScale(source, 1920 * 4, 1920, 1080, d, width * 4, width, height, filter);
    } else {
      libyuv::RGBScale(source, 1920 * 3, 1920, 1080, d, width * 3, width, height, filter);
    }
  });
}

void BM_LibyuvARGBScaleBilinear_1920x1080_to_960x540(benchmark::State& state) {
  Libyuv(state, 4, 960, 540, libyuv::kFilterBilinear);
}

void BM_LibyuvARGBScaleBox_1920x1080_to_480x270(benchmark::State& state) {
  Libyuv(state, 4, 480, 270, libyuv::kFilterBox);
}

void BM_LibyuvRGBScaleBilinear_1920x1080_to_960x540(benchmark::State& state) {
  Libyuv(state, 3, 960, 540, libyuv::kFilterBilinear);
}

void BM_LibyuvRGBScaleBox_1920x1080_to_480x270(benchmark::State& state) {
  Libyuv(state, 3, 480, 270, libyuv::kFilterBox);
}

void BM_Memcpy_1920x1080x3(benchmark::State& state) {
  Sources sources(1920 * 1080 * 3, Fresh(state, 0));
  std::vector<uint8_t> destination(sources.bytes());
  Measure(state, sources, destination.data(),
          [&](uint8_t* source) { std::memcpy(destination.data(), source, destination.size()); });
}

double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

// Every benchmark also reports the fastest of its repetitions ("_min"), the least disturbed by
// other work on the machine.
void Setup(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
}

// Every level, so that a processor with AVX-512 shows what one with less gets too.
const std::vector<int64_t> kLevels = {
    static_cast<int64_t>(SimdLevel::kAvx512), static_cast<int64_t>(SimdLevel::kAvx2),
    static_cast<int64_t>(SimdLevel::kSsse3), static_cast<int64_t>(SimdLevel::kSse2),
    static_cast<int64_t>(SimdLevel::kScalar)};
const std::vector<int64_t> kHotFresh = {0, 1};

BENCHMARK(BM_ScaleBilinear_1920x1080_to_960x540)->ArgsProduct({kLevels, kHotFresh})->Apply(Setup);
BENCHMARK(BM_ScaleDownHalving_1920x1080_to_480x270)
    ->ArgsProduct({kLevels, kHotFresh})
    ->Apply(Setup);
BENCHMARK(BM_ScaleDownHalving_1366x768_to_341x192)->ArgsProduct({kLevels, kHotFresh})->Apply(Setup);
BENCHMARK(BM_PasteScaledNearest_640x480_into_480x270)->Apply(Setup);
BENCHMARK(BM_LibyuvARGBScaleBilinear_1920x1080_to_960x540)
    ->ArgsProduct({kLevels, kHotFresh})
    ->Apply(Setup);
BENCHMARK(BM_LibyuvARGBScaleBox_1920x1080_to_480x270)
    ->ArgsProduct({kLevels, kHotFresh})
    ->Apply(Setup);
// RGBScale on our own pixel format, with all this processor has only: a second anchor, slower
// than ARGBScale.
BENCHMARK(BM_LibyuvRGBScaleBilinear_1920x1080_to_960x540)
    ->ArgsProduct({{static_cast<int64_t>(image_ops_internal::BestSimdLevel())}, kHotFresh})
    ->Apply(Setup);
BENCHMARK(BM_LibyuvRGBScaleBox_1920x1080_to_480x270)
    ->ArgsProduct({{static_cast<int64_t>(image_ops_internal::BestSimdLevel())}, kHotFresh})
    ->Apply(Setup);
BENCHMARK(BM_Memcpy_1920x1080x3)->ArgsProduct({kHotFresh})->Apply(Setup);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
