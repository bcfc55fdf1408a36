// Pieces shared by the fast picture operations and their plain reference versions, and the hooks
// with which tests choose the instruction set. Not for the rest of the program.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "capture/image_ops.h"

namespace quillon::image_ops_internal {

// Sides above this would overflow the 16.16 fixed point (Width << 16 in 32 bits); views with
// such sides are treated like empty ones.
inline constexpr int32_t kMaxSide = 32767;

inline bool HasSize(const ImageView& view) {
  return view.Width > 0 && view.Height > 0 && view.Width <= kMaxSide && view.Height <= kMaxSide;
}

inline bool HasPixels(const ImageView& view) {
  return view.Data != nullptr && HasSize(view);
}

// A picture of `size` pixels placed at `position` that would reach past `limit` is pulled back
// so that it touches the far edge.
inline int32_t PullBack(int32_t position, int32_t size, int32_t limit) {
  if (int64_t{position} + size > limit) return limit - size;
  return position;
}

// The indices k in [0, size) for which position + k lies inside [0, limit): what remains of a
// paste once it is clipped to its destination. Empty when first >= last.
struct Span {
  int32_t first;
  int32_t last;
};

inline Span ClipSpan(int32_t position, int32_t size, int32_t limit) {
  const int64_t first = std::max<int64_t>(0, -int64_t{position});
  const int64_t last = std::min<int64_t>(size, int64_t{limit} - position);
  return {static_cast<int32_t>(first), static_cast<int32_t>(std::max(first, last))};
}

// 16.16 step of the bilinear resampler from `source` to `destination` pixels, and the sample
// position of the first destination pixel.
struct BilinearAxis {
  int32_t step;
  int32_t start;
};

inline BilinearAxis MakeBilinearAxis(int32_t source, int32_t destination) {
  const int32_t step = (source << 16) / destination + 1;
  return {step, (step >> 1) - 32768};
}

// 16.16 step of the nearest-neighbour paste.
inline uint32_t NearestStep(int32_t source, int32_t drawn) {
  return static_cast<uint32_t>((source << 16) / drawn + 1);
}

// Source index for drawn index k; a tiny source drawn very large could step one past its end,
// so the index stays on the last column or row.
inline int32_t NearestIndex(uint32_t step, int32_t k, int32_t source) {
  const uint32_t index = (static_cast<uint32_t>(k) * step) >> 16;
  return static_cast<int32_t>(std::min<uint32_t>(index, static_cast<uint32_t>(source - 1)));
}

// Bytes of work space the halving steps need for `source` (the first half-size picture); 0 when
// no halving step runs.
inline size_t HalvingWorkBytes(const ImageView& destination, const ImageView& source) {
  if (source.Width / 2 > destination.Width && source.Height / 2 > destination.Height) {
    return size_t(source.Width / 2) * size_t(source.Height / 2) * 3;
  }
  return 0;
}

// The halving steps: while both halves stay larger than the destination, halve into the other
// work area (first `work`, then the source's own bytes, alternately), then resample the last
// picture into the destination with `scale`.
template <class Scale>
void HalveThenScale(const ImageView& destination, const ImageView& source, uint8_t* work,
                    Scale scale) {
  ImageView current = source;
  uint8_t* next = work;
  while (current.Width / 2 > destination.Width && current.Height / 2 > destination.Height) {
    const ImageView half = MakeImageView(next, current.Width / 2, current.Height / 2);
    scale(half, current);
    next = current.Data;
    current = half;
  }
  scale(destination, current);
}

// Instruction sets of the fast paths (kAvx512: AVX-512 BW with the byte permutes of VBMI). The best
// one the processor has is chosen at start; tests may choose a lower one to compare every path with
// the reference.
enum class SimdLevel { kScalar, kSse2, kAvx2, kAvx512 };

SimdLevel BestSimdLevel();
SimdLevel ActiveSimdLevel();
// Chooses `level`, or the best one available if the processor lacks it. Returns the one chosen.
SimdLevel SetSimdLevel(SimdLevel level);

// Bytes currently held by the process-wide work buffer of ScaleDownHalving.
size_t ScratchBufferBytes();

}  // namespace quillon::image_ops_internal
