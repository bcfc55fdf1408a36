// Speed of the picture operations of the frame tick, side by side with libyuv doing the same
// reductions on 32-bit pixels and with a plain copy of the desktop picture as the floor.
//
// ScaleDownHalving uses its source as work space; for 1920x1080 -> 480x270 it runs exactly one
// halving step, which reads the source and writes the work buffer, so the source stays intact
// and every iteration does the same work on the same picture.
#include <benchmark/benchmark.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "capture/image_ops.h"
#include "capture/image_ops_internal.h"

namespace quillon {
namespace {

using image_ops_internal::SimdLevel;

std::vector<uint8_t> RandomBytes(size_t count) {
  std::vector<uint8_t> bytes(count);
  std::mt19937 random(1);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Chooses the instruction set given as the benchmark's argument for its run.
class SimdChoice {
 public:
  explicit SimdChoice(benchmark::State& state) {
    const auto wanted = static_cast<SimdLevel>(state.range(0));
    if (image_ops_internal::SetSimdLevel(wanted) != wanted) state.SkipWithError("not available");
    state.SetLabel(wanted == SimdLevel::kAvx2 ? "avx2" : wanted == SimdLevel::kSse2 ? "sse2" : "c");
  }
  ~SimdChoice() { image_ops_internal::SetSimdLevel(image_ops_internal::BestSimdLevel()); }
};

void SetSourceBytes(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// Reduces a 1920x1080 desktop picture to width x height with `reduce`.
template <class Reduce>
void ReduceDesktop(benchmark::State& state, int32_t width, int32_t height, Reduce reduce) {
  SimdChoice choice(state);
  std::vector<uint8_t> source = RandomBytes(1920 * 1080 * 3);
  std::vector<uint8_t> destination(size_t(width) * size_t(height) * 3);
  const ImageView s = MakeImageView(source.data(), 1920, 1080);
  const ImageView d = MakeImageView(destination.data(), width, height);
  for (auto _ : state) {
    reduce(d, s);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  SetSourceBytes(state, source.size());
}

void BM_ScaleBilinear_1920x1080_to_960x540(benchmark::State& state) {
  ReduceDesktop(state, 960, 540, ScaleBilinear);
}

void BM_ScaleDownHalving_1920x1080_to_480x270(benchmark::State& state) {
  ReduceDesktop(state, 480, 270, ScaleDownHalving);
}

void BM_PasteScaledNearest_640x480_into_480x270(benchmark::State& state) {
  std::vector<uint8_t> camera = RandomBytes(640 * 480 * 3);
  std::vector<uint8_t> screen(1920 * 1080 * 3);
  const ImageView c = MakeImageView(camera.data(), 640, 480);
  const ImageView s = MakeImageView(screen.data(), 1920, 1080);
  const ImageView size = MakeImageView(nullptr, 480, 270);
  for (auto _ : state) {
    PasteScaledNearest(s, 1440, 810, size, c);
    benchmark::DoNotOptimize(screen.data());
    benchmark::ClobberMemory();
  }
}

void LibyuvArgbScale(benchmark::State& state, int width, int height, libyuv::FilterMode filter) {
  std::vector<uint8_t> source = RandomBytes(1920 * 1080 * 4);
  std::vector<uint8_t> destination(size_t(width) * size_t(height) * 4);
  for (auto _ : state) {
    libyuv::ARGBScale(source.data(), 1920 * 4, 1920, 1080, destination.data(), width * 4, width,
                      height, filter);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  SetSourceBytes(state, source.size());
}

void BM_LibyuvARGBScaleBilinear_1920x1080_to_960x540(benchmark::State& state) {
  LibyuvArgbScale(state, 960, 540, libyuv::kFilterBilinear);
}

void BM_LibyuvARGBScaleBox_1920x1080_to_480x270(benchmark::State& state) {
  LibyuvArgbScale(state, 480, 270, libyuv::kFilterBox);
}

void BM_Memcpy_1920x1080x3(benchmark::State& state) {
  std::vector<uint8_t> source = RandomBytes(1920 * 1080 * 3);
  std::vector<uint8_t> destination(source.size());
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  SetSourceBytes(state, source.size());
}

double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

// Every benchmark also reports the fastest of its repetitions ("_min"), the least disturbed by
// other work on the machine.
benchmark::internal::Benchmark* Setup(benchmark::internal::Benchmark* b) {
  return b->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
}

const auto kLevels = {static_cast<int64_t>(SimdLevel::kAvx2),
                      static_cast<int64_t>(SimdLevel::kSse2)};

BENCHMARK(BM_ScaleBilinear_1920x1080_to_960x540)->ArgsProduct({kLevels})->Apply([](auto* b) {
  Setup(b);
});
BENCHMARK(BM_ScaleDownHalving_1920x1080_to_480x270)->ArgsProduct({kLevels})->Apply([](auto* b) {
  Setup(b);
});
BENCHMARK(BM_PasteScaledNearest_640x480_into_480x270)->Apply([](auto* b) { Setup(b); });
BENCHMARK(BM_LibyuvARGBScaleBilinear_1920x1080_to_960x540)->Apply([](auto* b) { Setup(b); });
BENCHMARK(BM_LibyuvARGBScaleBox_1920x1080_to_480x270)->Apply([](auto* b) { Setup(b); });
BENCHMARK(BM_Memcpy_1920x1080x3)->Apply([](auto* b) { Setup(b); });

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
