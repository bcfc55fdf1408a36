// Pieces shared by the fast picture operations and their plain reference versions, the hooks with
// which tests choose the instruction set, and the rows that the fast operations are made of. Not
// for the rest of the program.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

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

// Instruction sets of the fast paths, each one including those before it (kSsse3: the in-lane byte
// shuffle and the byte multiply-add; kAvx512: AVX-512 BW with the byte permutes of VBMI). The best
// one the processor has is chosen at start; tests and benchmarks may choose a lower one.
enum class SimdLevel { kScalar, kSse2, kSsse3, kAvx2, kAvx512 };
inline constexpr int kSimdLevels = 5;

SimdLevel BestSimdLevel();
SimdLevel ActiveSimdLevel();
// Chooses `level`, or the best one available if the processor lacks it. Returns the one chosen.
SimdLevel SetSimdLevel(SimdLevel level);

// Bytes currently held by the process-wide work buffer of ScaleDownHalving.
size_t ScratchBufferBytes();

// ---------------------------------------------------------------------------------------------
// The rows of the bilinear resampler. The operations in image_ops.cpp walk the pictures; the rows
// they call come from image_ops_scalar.cpp and from one file per instruction set
// (image_ops_sse2.cpp, image_ops_ssse3.cpp, image_ops_avx2.cpp, image_ops_avx512.cpp), whose
// functions carry their instruction set as a target attribute rather than their file being compiled
// with -mavx2 and the like: such a file would compile the inline and template code it takes from
// headers (std::vector, std::min, the helpers here) for its instruction set too, and the linker
// keeps one copy of each for the whole program, which could be that one. image_ops_dispatch.cpp
// tells which set the processor has and which rows serve it. Every row gives byte for byte what the
// plain versions in image_ops_reference.cpp compute; the speed comes from doing the same integer
// arithmetic in a different order:
//
// The bilinear weights factor: w00 = (256 - u)(256 - v), w01 = u(256 - v), w10 = (256 - u)v and
// w11 = uv, so P00 w00 + P01 w01 + P10 w10 + P11 w11 = (256 - v) h0 + v h1 with the row blends
// h = P0 (256 - u) + P1 u. Each h is an exact integer of at most 255 * 256 = 65280, so a
// horizontal pass that keeps h in 16 bits and a vertical pass that blends two such rows and
// shifts by 16 give the very same bytes. Clamping is separable too (the column index is clamped
// alone, the row index alone), so it lives in per-call tables and the inner loops never clamp.
//
// The rows of h are stored as h - 32768 in signed 16 bits so that the vertical pass can use the
// signed 16 x 16 -> 32 bit multiply-add of SSE2/AVX2: (h0 - 32768)(256 - v) + (h1 - 32768)v +
// 32768 * 256 is the same sum.

// The vector rows need SSE2 at least. Every x86-64 processor has it; a 32-bit build assumes
// nothing and asks the processor, like it does for the others, so the 32-bit Windows program runs
// whatever the classroom PC offers.
#if defined(__x86_64__) || defined(__i386__)
#define QUILLON_IMAGE_OPS_X86 1
#endif

// Spare elements at the end of every blended row: the vector loops store whole registers and
// may write up to this many values past the row, which later stores overwrite.
inline constexpr int32_t kRowSlack = 32;

// How BilinearTables::lanes holds the fractions of the columns from vector_first on: 4 lanes
// (u, u, u, u) per column (SSE2), or two columns per 8 lanes as (u0, u0, u0, u1, u1, u1, 0, 0)
// (AVX2, a 128-bit half each).
enum class LaneLayout { kFourPerColumn, kTwoColumnsPerEight };

// Per-call tables of the bilinear resampler, kept per thread so that no call allocates once the
// sizes have been seen.
struct BilinearTables {
  // Per destination column: byte offsets of the clamped left and right source pixels, fraction.
  std::vector<int32_t> left;
  std::vector<int32_t> right;
  std::vector<uint16_t> fraction;
  // Columns [vector_first, vector_last) have both pixels inside the row and a left pixel that is
  // not the first one, so 8 bytes can be read from 2 bytes before it; window[i] is that offset.
  int32_t vector_first = 0;
  int32_t vector_last = 0;
  // Columns [vector_first, pairs_last) come in groups of 4 whose windows lie 6 bytes apart (a
  // halving step), with 28 bytes readable from each group's first window and fractions 1 to
  // 255. pair_weights holds their signed byte weights (-t, t), t = u - 128, 16 pairs a group.
  int32_t pairs_last = 0;
  std::vector<int8_t> pair_weights;
  std::vector<int32_t> window;
  // Fractions laid out as the vector loops want them (LaneLayout), from vector_first on.
  std::vector<uint16_t> lanes;
  // Set when destination column i blends source pixels 2i and 2i + 1 for every i, with fractions
  // of at least 1: a source exactly twice as wide. For the AVX-512 rows, halving_weights and
  // halving_uniform then hold the fractions as its halving row wants them (the others read
  // `fraction`).
  bool halving_columns = false;
  std::vector<uint8_t> halving_weights;
  std::vector<uint32_t> halving_uniform;
  // The destination bytes in groups of 7 (group g: bytes 7g to 7g + 6), for the rows that take
  // both passes at once with an in-lane byte shuffle. 7 destination bytes never need more than
  // 16 source bytes as long as the source is at most about twice as wide, so one 16-byte load
  // per row serves a group: group_offset is where it starts, group_shuffle (16 a group) picks the
  // (left, right) byte pair of each destination byte from it (0x80: none) and group_weights (16
  // a group) holds their unsigned weights (256 - u, u), or (128, 128) on the left byte twice
  // where u = 0. A group whose bytes lie further apart is left to group_fixes, pixel ranges done
  // one by one after the vector loop; groups_serve is set when those are few. The AVX2 rows
  // (LaneLayout::kTwoColumnsPerEight) take each 4 groups in the order g, g + 2, g + 1, g + 3.
  std::vector<int32_t> group_offset;
  std::vector<uint8_t> group_shuffle;
  std::vector<uint8_t> group_weights;
  std::vector<Span> group_fixes;
  bool groups_serve = false;
  // Two blended source rows, h - 32768 per byte, and the source rows they hold.
  std::vector<int16_t> rows[2];
  int32_t row_of[2] = {-1, -1};
  // What the column tables were made for; a frame tick repeats the same sizes.
  int32_t made_source_width = 0;
  int32_t made_width = 0;
  SimdLevel made_level = SimdLevel::kScalar;
};

// This thread's tables for these sizes if it has them, else the set filled longest ago other than
// inUse. A few sets, so that the halving steps of a reduction, each with its own sizes, find
// theirs every tick; a second step passes the first step's set, which must stay as it is.
BilinearTables& ThreadTables(int32_t source_width, int32_t width, SimdLevel level,
                             const BilinearTables* inUse = nullptr);

// The row functions of one instruction set; a null one has no path of its own there.
struct RowFunctions {
  SimdLevel level;
  LaneLayout lanes;
  // Horizontal pass over the columns [vector_first, vector_last) of one source row into
  // h - 32768 per destination byte.
  void (*blend_columns)(const BilinearTables& t, const uint8_t* row, int16_t* out);
  // Vertical pass: two blended rows into `count` destination bytes.
  void (*blend_rows)(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count);
  // Both passes at once in groups of 7 destination bytes (see group_offset), for reductions to
  // half or less, where no source row serves two destination rows: the first bytes of one
  // destination row of `count` bytes, up to the returned byte, a multiple of 7. The caller does
  // group_fixes and the bytes from there on.
  int32_t (*reduce_row)(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1,
                        int32_t v, uint8_t* out, int32_t count);
  // A source exactly twice as wide (halving_columns): one destination row of `count` bytes from
  // two source rows of 2 * count bytes. False when it leaves the row to the others (see
  // HalveRowInBlocks).
  bool (*halve_row)(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                    uint8_t* out, int32_t count);
};

// The rows of the instruction set chosen now (ActiveSimdLevel).
const RowFunctions& ActiveRowFunctions();

// Asks for the cache line at base + offset; an address past the row is fine, as a prefetch never
// faults (the sum is taken on integers, so no pointer leaves its array).
inline void Prefetch(const uint8_t* base, int32_t offset) {
  __builtin_prefetch(
      reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(base) + uintptr_t(offset)), 0, 3);
}

// image_ops_scalar.cpp: one value at a time, on every processor; also the vector rows' edges.
void BlendColumnsScalar(const BilinearTables& t, const uint8_t* row, int16_t* out, int32_t first,
                        int32_t last);
void BlendVectorColumnsScalar(const BilinearTables& t, const uint8_t* row, int16_t* out);
void BlendRowsScalar(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count);
// Both passes for the columns [first, last) of one destination row.
void BlendPixelsScalar(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                       uint8_t* out, int32_t first, int32_t last);

// The halving rows of SSSE3 and AVX2 take the four pixels of a destination byte as 16-bit words
// (left, right) of the top row and of the bottom row and two word multiply-adds with the weight
// pairs ((256 - u)(256 - v), u(256 - v)) and ((256 - u)v, uv): the whole sum in 32 bits, no
// bias, no rounding, and byte 2 is the result. One in-lane byte shuffle per row and 4 destination
// bytes spreads the pixels to words; there is no horizontal or vertical pass in between. The
// weights must fit signed 16 bits: every row of a halving (u and v near 128) and most others,
// else the row declines and the group rows take it.
//
// Destination byte n of a halving row blends source bytes HalvingLeft(n) and HalvingLeft(n) + 3.
constexpr int32_t HalvingLeft(int32_t n) {
  return 2 * n - n % 3;
}

// They work in blocks of kHalvingBlock destination bytes (32 pixels; u changes every 256), each
// from the source bytes [read_first, read_end) around 2 * its first byte in both rows (at most 8
// before it and 248 after); `blocks` takes `count` blocks in a row, given the weight pairs of the
// top and bottom row as (left | right << 16).
inline constexpr int32_t kHalvingBlock = 96;
struct HalvingBlocks {
  void (*blocks)(const uint8_t* row0, const uint8_t* row1, int32_t top, int32_t bottom,
                 uint8_t* out, int32_t count);
  int32_t read_first;
  int32_t read_end;
};

// Asks for the source bytes of the block 8 blocks on in both rows: a frame tick's desktop picture
// comes from memory, and two streams at once outrun the hardware's own guesses.
inline void PrefetchHalvingBlock(const uint8_t* row0, const uint8_t* row1) {
  for (int32_t ahead = 16 * kHalvingBlock; ahead < 18 * kHalvingBlock; ahead += 64) {
    Prefetch(row0, ahead);
    Prefetch(row1, ahead);
  }
}

// image_ops_scalar.cpp: one destination row of a halving in such blocks, those at the ends of
// the rows on copies; false, with nothing written, when the weights do not fit.
bool HalveRowInBlocks(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                      uint8_t* out, int32_t count, const HalvingBlocks& blocks);

#if defined(QUILLON_IMAGE_OPS_X86)
// image_ops_sse2.cpp
void BlendColumnsSse2(const BilinearTables& t, const uint8_t* row, int16_t* out);
void BlendRowsSse2(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count);
bool HalveRowSse2(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                  uint8_t* out, int32_t count);
// image_ops_ssse3.cpp
int32_t ReduceRowSsse3(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                       uint8_t* out, int32_t count);
bool HalveRowSsse3(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                   uint8_t* out, int32_t count);
// image_ops_avx2.cpp
void BlendColumnsAvx2(const BilinearTables& t, const uint8_t* row, int16_t* out);
void BlendRowsAvx2(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count);
int32_t ReduceRowAvx2(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                      uint8_t* out, int32_t count);
bool HalveRowAvx2(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                  uint8_t* out, int32_t count);
// image_ops_avx512.cpp
bool HalveRowAvx512(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                    uint8_t* out, int32_t count);
#endif

}  // namespace quillon::image_ops_internal
