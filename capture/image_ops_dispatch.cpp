// Which instruction set the picture operations use and which rows serve it: the only place that
// asks the processor what it has. The set is chosen once, at start; tests may choose a lower one.
#include <atomic>

#include "capture/image_ops_internal.h"

namespace quillon::image_ops_internal {

namespace {

SimdLevel DetectSimdLevel() {
#if defined(QUILLON_IMAGE_OPS_X86)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
    return SimdLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return SimdLevel::kSsse3;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::kSse2;
  return SimdLevel::kScalar;
#else
  return SimdLevel::kScalar;
#endif
}

std::atomic<SimdLevel>& ChosenLevel() {
  static std::atomic<SimdLevel> level{DetectSimdLevel()};
  return level;
}

constexpr RowFunctions kScalarRows{SimdLevel::kScalar,
                                   LaneLayout::kFourPerColumn,
                                   &BlendVectorColumnsScalar,
                                   &BlendRowsScalar,
                                   nullptr,
                                   nullptr};
#if defined(QUILLON_IMAGE_OPS_X86)
// SSE2 has a row of its own for sources exactly twice as wide.
constexpr RowFunctions kSse2Rows{SimdLevel::kSse2,  LaneLayout::kFourPerColumn,
                                 &BlendColumnsSse2, &BlendRowsSse2,
                                 nullptr,           &HalveRowSse2};
// SSSE3 takes the SSE2 rows where both passes are not done at once; its halving row leaves rows
// whose weights do not fit 16 bits to the group row, as does the AVX2 one.
constexpr RowFunctions kSsse3Rows{SimdLevel::kSsse3, LaneLayout::kFourPerColumn,
                                  &BlendColumnsSse2, &BlendRowsSse2,
                                  &ReduceRowSsse3,   &HalveRowSsse3};
constexpr RowFunctions kAvx2Rows{SimdLevel::kAvx2,  LaneLayout::kTwoColumnsPerEight,
                                 &BlendColumnsAvx2, &BlendRowsAvx2,
                                 &ReduceRowAvx2,    &HalveRowAvx2};
// AVX-512 has a row of its own for sources exactly twice as wide; the other shapes take the AVX2
// rows.
constexpr RowFunctions kAvx512Rows{SimdLevel::kAvx512, LaneLayout::kTwoColumnsPerEight,
                                   &BlendColumnsAvx2,  &BlendRowsAvx2,
                                   &ReduceRowAvx2,     &HalveRowAvx512};
#endif

}  // namespace

SimdLevel BestSimdLevel() {
  return DetectSimdLevel();
}

SimdLevel ActiveSimdLevel() {
  return ChosenLevel().load(std::memory_order_relaxed);
}

SimdLevel SetSimdLevel(SimdLevel level) {
  const SimdLevel chosen = std::min(level, BestSimdLevel());
  ChosenLevel().store(chosen, std::memory_order_relaxed);
  return chosen;
}

const RowFunctions& ActiveRowFunctions() {
  switch (ActiveSimdLevel()) {
#if defined(QUILLON_IMAGE_OPS_X86)
    case SimdLevel::kAvx512:
      return kAvx512Rows;
    case SimdLevel::kAvx2:
      return kAvx2Rows;
    case SimdLevel::kSsse3:
      return kSsse3Rows;
    case SimdLevel::kSse2:
      return kSse2Rows;
#endif
    default:
      return kScalarRows;
  }
}

}  // namespace quillon::image_ops_internal
