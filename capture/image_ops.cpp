// Fast picture operations. Every result is byte for byte the one that the plain versions in
// image_ops_reference.cpp compute; the speed comes from doing the same integer arithmetic in a
// different order:
//
// The bilinear weights factor: w00 = (256 - u)(256 - v), w01 = u(256 - v), w10 = (256 - u)v and
// w11 = uv, so P00 w00 + P01 w01 + P10 w10 + P11 w11 = (256 - v) h0 + v h1 with the row blends
// h = P0 (256 - u) + P1 u. Each h is an exact integer of at most 255 * 256 = 65280, so a
// horizontal pass that keeps h in 16 bits and a vertical pass that blends two such rows and
// shifts by 16 give the very same bytes. Clamping is separable too (the column index is clamped
// alone, the row index alone), so it lives in per-call tables and the inner loops never clamp.
// Source rows blended horizontally are kept for the next destination row, which spares half the
// horizontal work when enlarging.
//
// The rows of h are stored as h - 32768 in signed 16 bits so that the vertical pass can use the
// signed 16 x 16 -> 32 bit multiply-add of SSE2/AVX2: (h0 - 32768)(256 - v) + (h1 - 32768)v +
// 32768 * 256 is the same sum.
//
// Reductions to half size or less (every halving step) read two fresh source rows for every
// destination row; with AVX2 they run both passes in registers, one destination row at a time.
// With AVX-512 (BW and VBMI), a source exactly twice as wide takes a path of its own that
// gathers each destination byte's four source bytes with byte permutes and does both passes in
// two multiply-adds; ScaleDownHalving with one halving step and a last step that halves the
// width again runs both steps at once on rows that stay in the first-level cache.
// The instruction set is chosen once, at start, from what the processor reports; the AVX2 and
// AVX-512 code lives only in functions compiled for it and runs only when chosen.
#include "capture/image_ops.h"

#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "capture/image_ops_internal.h"

#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define QUILLON_IMAGE_OPS_X86 1
#include <immintrin.h>
#endif

namespace quillon {

using namespace image_ops_internal;

ImageView MakeImageView(uint8_t* data, int32_t width, int32_t height) {
  return ImageView{data, width * 3, width, height};
}

const uint8_t* PixelClamped(const ImageView& view, int32_t x, int32_t y) {
  x = std::clamp(x, 0, view.Width - 1);
  y = std::clamp(y, 0, view.Height - 1);
  return view.Data + int64_t{y} * view.Stride + int64_t{x} * 3;
}

void BilinearMix(const uint8_t* p00, const uint8_t* p01, const uint8_t* p10, const uint8_t* p11,
                 uint32_t u, uint32_t v, uint8_t* destination) {
  const uint32_t w11 = u * v;
  const uint32_t w01 = u * 256 - w11;
  const uint32_t w10 = v * 256 - w11;
  const uint32_t w00 = 65536 - w10 - w01 - w11;
  for (int c = 0; c < 3; ++c) {
    destination[c] =
        static_cast<uint8_t>((p00[c] * w00 + p01[c] * w01 + p10[c] * w10 + p11[c] * w11) >> 16);
  }
}

namespace {

// ---------------------------------------------------------------------------------------------
// Choice of instruction set.

SimdLevel DetectSimdLevel() {
#if defined(QUILLON_IMAGE_OPS_X86)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
    return SimdLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  return SimdLevel::kSse2;
#else
  return SimdLevel::kScalar;
#endif
}

std::atomic<SimdLevel>& ChosenLevel() {
  static std::atomic<SimdLevel> level{DetectSimdLevel()};
  return level;
}

// ---------------------------------------------------------------------------------------------
// Per-call tables of the bilinear resampler, kept per thread so that no call allocates once the
// sizes have been seen.

// Spare elements at the end of every blended row: the vector loops store whole registers and
// may write up to this many values past the row, which later stores overwrite.
constexpr int32_t kRowSlack = 32;

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
  // Fractions laid out as the vector loops want them, 4 per column from vector_first on.
  std::vector<uint16_t> lanes;
  // Set when destination column i blends source pixels 2i and 2i + 1 for every i, with fractions
  // of at least 1: a source exactly twice as wide. For AVX-512, halving_weights then holds the
  // fractions as that path wants them.
  bool halving_columns = false;
  std::vector<uint8_t> halving_weights;
  std::vector<uint32_t> halving_uniform;
  // Two blended source rows, h - 32768 per byte, and the source rows they hold.
  std::vector<int16_t> rows[2];
  int32_t row_of[2] = {-1, -1};
  // What the column tables were made for; a frame tick repeats the same sizes.
  int32_t made_source_width = 0;
  int32_t made_width = 0;
  SimdLevel made_level = SimdLevel::kScalar;
};

// The tables for these sizes if this thread has them, else the set filled longest ago. A few sets,
// so that the halving steps of a reduction, each with its own sizes, find theirs every tick.
BilinearTables& ThreadTables(int32_t source_width, int32_t width, SimdLevel level) {
  thread_local std::array<BilinearTables, 4> sets;
  thread_local size_t oldest = 0;
  for (BilinearTables& t : sets) {
    if (t.made_source_width == source_width && t.made_width == width && t.made_level == level) {
      return t;
    }
  }
  BilinearTables& t = sets[oldest];
  oldest = (oldest + 1) % sets.size();
  return t;
}

// One sample position along an axis: clamped pixel indices and the 8-bit fraction.
struct Sample {
  int32_t first;
  int32_t second;
  uint32_t fraction;
};

Sample SampleAt(const BilinearAxis& axis, int32_t k, int32_t size) {
  const int64_t s = axis.start + int64_t{k} * axis.step;
  const auto p = static_cast<int32_t>(s >> 16);
  return {std::clamp(p, 0, size - 1), std::clamp(p + 1, 0, size - 1),
          static_cast<uint32_t>((s & 0xFFFF) >> 8)};
}

void PrepareColumns(BilinearTables& t, int32_t source_width, int32_t width, SimdLevel level) {
  if (t.made_source_width == source_width && t.made_width == width && t.made_level == level) {
    return;
  }
  t.made_source_width = source_width;
  t.made_width = width;
  t.made_level = level;
  const BilinearAxis axis = MakeBilinearAxis(source_width, width);
  t.left.resize(width);
  t.right.resize(width);
  t.fraction.resize(width);
  t.window.resize(width);
  t.vector_first = width;
  t.vector_last = width;
  for (int32_t i = 0; i < width; ++i) {
    const Sample s = SampleAt(axis, i, source_width);
    t.left[i] = s.first * 3;
    t.right[i] = s.second * 3;
    t.fraction[i] = static_cast<uint16_t>(s.fraction);
    t.window[i] = s.first * 3 - 2;
    const bool inside = s.second == s.first + 1 && s.first >= 1;
    if (inside && t.vector_first == width) t.vector_first = i;
    if (inside) t.vector_last = i + 1;
  }
  t.halving_columns = source_width == 2 * width;
  for (int32_t i = 0; i < width && t.halving_columns; ++i) {
    t.halving_columns = t.left[i] == 6 * i && t.right[i] == 6 * i + 3 && t.fraction[i] >= 1;
  }
  if (t.halving_columns && level == SimdLevel::kAvx512) {
    // Per quarter of 15 destination bytes, 16 pairs of 16-bit weights (256 - u, u), the last
    // unused; per block of 60 bytes, 4 quarters.
    const size_t count = size_t(width) * 3;
    const size_t blocks = (count + 59) / 60;
    t.halving_weights.assign(blocks * 256, 0);
    for (size_t k = 0; k < count; ++k) {
      const uint16_t u = t.fraction[k / 3];
      uint8_t* pair = &t.halving_weights[(k / 15) * 64 + (k % 15) * 4];
      pair[0] = static_cast<uint8_t>(256 - u);
      pair[2] = static_cast<uint8_t>(u);
    }
    // Per block of 20 pixels, (u << 16) | (256 - u) where all its pixels have the same u.
    t.halving_uniform.assign(blocks, 0);
    for (size_t b = 0; b < blocks; ++b) {
      const size_t first_pixel = b * 20;
      const size_t end = std::min<size_t>(first_pixel + 20, size_t(width));
      const uint16_t u = t.fraction[first_pixel];
      if (std::all_of(&t.fraction[first_pixel], &t.fraction[0] + end,
                      [u](uint16_t f) { return f == u; })) {
        t.halving_uniform[b] = (uint32_t{u} << 16) | (256u - u);
      }
    }
  }
  t.pairs_last = t.vector_first;
  while (t.pairs_last + 4 <= t.vector_last && t.window[t.pairs_last] + 28 <= source_width * 3 &&
         t.window[t.pairs_last + 3] == t.window[t.pairs_last] + 18 &&
         t.window[t.pairs_last + 1] == t.window[t.pairs_last] + 6 &&
         t.window[t.pairs_last + 2] == t.window[t.pairs_last] + 12 &&
         std::all_of(&t.fraction[t.pairs_last], &t.fraction[t.pairs_last] + 4,
                     [](uint16_t u) { return u >= 1; })) {
    t.pairs_last += 4;
  }
  t.pair_weights.assign(size_t(t.pairs_last - t.vector_first) * 8, 0);
  for (int32_t k = 0; k < t.pairs_last - t.vector_first; ++k) {
    const auto weight = static_cast<int8_t>(t.fraction[t.vector_first + k] - 128);
    for (int c = 0; c < 3; ++c) {
      int8_t* pair = &t.pair_weights[size_t(k / 2) * 16 + size_t(k % 2) * 6 + size_t(c) * 2];
      pair[0] = static_cast<int8_t>(-weight);
      pair[1] = weight;
    }
  }
  // SSE2 takes two columns at a time, each as 4 lanes (u, u, u, u); AVX2 takes four, two per
  // 128-bit half as (u0, u0, u0, u1, u1, u1, 0, 0).
  const int32_t count = t.vector_last - t.vector_first;
  t.lanes.assign(size_t(count) * 4 + 16, 0);
  for (int32_t k = 0; k < count; ++k) {
    const uint16_t u = t.fraction[t.vector_first + k];
    for (int c = 0; c < 4; ++c) {
      if (level >= SimdLevel::kAvx2) {
        if (c < 3) t.lanes[size_t(k / 2) * 8 + size_t(k % 2) * 3 + c] = u;
      } else {
        t.lanes[size_t(k) * 4 + c] = u;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Horizontal pass: one source row into h - 32768 per destination byte.

inline int16_t RowBlend(uint32_t p0, uint32_t p1, uint32_t u) {
  return static_cast<int16_t>(static_cast<int32_t>(p0 * (256 - u) + p1 * u) - 32768);
}

void BlendColumnsScalar(const BilinearTables& t, const uint8_t* row, int16_t* out, int32_t first,
                        int32_t last) {
  for (int32_t i = first; i < last; ++i) {
    const uint8_t* a = row + t.left[i];
    const uint8_t* b = row + t.right[i];
    const uint32_t u = t.fraction[i];
    out[i * 3 + 0] = RowBlend(a[0], b[0], u);
    out[i * 3 + 1] = RowBlend(a[1], b[1], u);
    out[i * 3 + 2] = RowBlend(a[2], b[2], u);
  }
}

// Vertical pass: two blended rows into `count` destination bytes.
inline uint8_t ColumnBlend(int16_t h0, int16_t h1, int32_t v) {
  return static_cast<uint8_t>((h0 * (256 - v) + h1 * v + (32768 << 8)) >> 16);
}

// Both passes for the columns [first, last) of one destination row.
[[maybe_unused]] void BlendPixelsScalar(const BilinearTables& t, const uint8_t* row0,
                                        const uint8_t* row1, int32_t v, uint8_t* out, int32_t first,
                                        int32_t last) {
  for (int32_t i = first; i < last; ++i) {
    const uint32_t u = t.fraction[i];
    for (int c = 0; c < 3; ++c) {
      out[i * 3 + c] = ColumnBlend(RowBlend(row0[t.left[i] + c], row0[t.right[i] + c], u),
                                   RowBlend(row1[t.left[i] + c], row1[t.right[i] + c], u), v);
    }
  }
}

void BlendRowsScalar(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t first,
                     int32_t count) {
  for (int32_t k = first; k < count; ++k) out[k] = ColumnBlend(h0[k], h1[k], v);
}

#if defined(QUILLON_IMAGE_OPS_X86)

// h = (P0 << 8) + (P1 - P0) u, taken modulo 2^16 (exact, as h fits), then biased by 32768.
inline __m128i RowBlend128(__m128i p0, __m128i p1, __m128i u) {
  const __m128i base = _mm_xor_si128(_mm_slli_epi16(p0, 8), _mm_set1_epi16(-32768));
  return _mm_add_epi16(base, _mm_mullo_epi16(_mm_sub_epi16(p1, p0), u));
}

void BlendColumnsSse2(const BilinearTables& t, const uint8_t* row, int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = t.vector_first;
  const uint16_t* lanes = t.lanes.data();
  for (; i + 2 <= t.vector_last; i += 2, lanes += 8) {
    // 8 bytes from 2 before the left pixel: .. .. L L L R R R
    const __m128i wa = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + t.window[i])), zero);
    const __m128i wb = _mm_unpacklo_epi8(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + t.window[i + 1])), zero);
    const __m128i p0 = _mm_unpacklo_epi64(_mm_srli_si128(wa, 4), _mm_srli_si128(wb, 4));
    const __m128i p1 = _mm_unpacklo_epi64(_mm_srli_si128(wa, 10), _mm_srli_si128(wb, 10));
    const __m128i h = RowBlend128(p0, p1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    // 4 lanes per column, the fourth overwritten by the next store.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * 3), h);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * 3 + 3), _mm_srli_si128(h, 8));
  }
  BlendColumnsScalar(t, row, out, i, t.vector_last);
}

inline __m128i BlendRows128(const int16_t* h0, const int16_t* h1, __m128i weights) {
  const __m128i bias = _mm_set1_epi32(32768 << 8);
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1));
  const __m128i lo =
      _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), bias), 16);
  const __m128i hi =
      _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), bias), 16);
  return _mm_packs_epi32(lo, hi);
}

void BlendRowsSse2(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count) {
  const __m128i weights = _mm_set1_epi32((v << 16) | (256 - v));
  int32_t k = 0;
  for (;;) {
    if (k + 16 > count) {
      if (count < 16 || k == count) break;
      k = count - 16;  // the last 16 again, overlapping: same bytes
    }
    const __m128i bytes = _mm_packus_epi16(BlendRows128(h0 + k, h1 + k, weights),
                                           BlendRows128(h0 + k + 8, h1 + k + 8, weights));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), bytes);
    k += 16;
  }
  BlendRowsScalar(h0, h1, v, out, k, count);
}

// Four columns whose 8-byte windows are 6 bytes apart, the first at p, so that one 16-byte load
// per 128-bit half holds two of them (at 0 and 6). With t = u - 128 in -127..127,
// h = 128 (L + R) + t (R - L): two unsigned-by-signed byte multiply-adds of (L, R) pairs.
// Gives h - 32768 in the 16-bit lanes L L L L' L' L' 0 0 of each half; `weights` holds the
// pairs (-t, t) in the same places.
__attribute__((target("avx2"))) inline __m256i BlendPairs4(const uint8_t* p, __m256i weights) {
  constexpr char z = -1;
  const __m256i pairs = _mm256_setr_epi8(2, 5, 3, 6, 4, 7, 8, 11, 9, 12, 10, 13, z, z, z, z,  //
                                         2, 5, 3, 6, 4, 7, 8, 11, 9, 12, 10, 13, z, z, z, z);
  const __m256i w = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  const __m256i x = _mm256_shuffle_epi8(w, pairs);
  // 128 (L + R) - 32768 = 128 (L - 128) + 128 (R - 128): unsigned weights times signed bytes.
  const __m256i centred =
      _mm256_maddubs_epi16(_mm256_set1_epi8(-128), _mm256_xor_si256(x, _mm256_set1_epi8(-128)));
  return _mm256_add_epi16(centred, _mm256_maddubs_epi16(x, weights));
}

__attribute__((target("avx2"))) inline __m256i LoadPairWeights(const BilinearTables& t, int32_t i) {
  return _mm256_loadu_si256(
      reinterpret_cast<const __m256i*>(t.pair_weights.data() + size_t(i - t.vector_first) * 8));
}

// Columns [i, last) in groups of 4 from BlendPairs4.
__attribute__((target("avx2"))) int32_t BlendPairsAvx2(const BilinearTables& t, const uint8_t* row,
                                                       int16_t* out, int32_t i, int32_t last) {
  const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  const int32_t* window = t.window.data();
#pragma GCC unroll 2
  for (; i + 4 <= last; i += 4) {
    const __m256i h = BlendPairs4(row + window[i], LoadPairWeights(t, i));
    // 12 values per 128-bit half -> 24 in a row; the 8 after them are overwritten later.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 3),
                        _mm256_permutevar8x32_epi32(h, pack));
  }
  return i;
}

// Columns [i, last) in groups of 4 from four 8-byte windows anywhere in the row.
__attribute__((target("avx2"))) int32_t BlendGatheredAvx2(const BilinearTables& t,
                                                          const uint8_t* row, int16_t* out,
                                                          int32_t i, int32_t last) {
  // Per 128-bit half, two windows at 0 and 8 are spread to the 16-bit lanes L L L L' L' L' 0 0
  // and R R R R' R' R' 0 0.
  constexpr char z = -1;
  const __m256i left_mask = _mm256_setr_epi8(2, z, 3, z, 4, z, 10, z, 11, z, 12, z, z, z, z, z,  //
                                             2, z, 3, z, 4, z, 10, z, 11, z, 12, z, z, z, z, z);
  const __m256i right_mask = _mm256_setr_epi8(5, z, 6, z, 7, z, 13, z, 14, z, 15, z, z, z, z, z,  //
                                              5, z, 6, z, 7, z, 13, z, 14, z, 15, z, z, z, z, z);
  const __m256i bias = _mm256_set1_epi16(-32768);
  const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  const int32_t* window = t.window.data();
  const uint16_t* lanes = t.lanes.data() + size_t(i - t.vector_first) * 4;
  const auto q = [&](int32_t k) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + window[k]));
  };
  for (; i + 4 <= last; i += 4, lanes += 16) {
    const __m256i w =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(q(i), q(i + 1))),
                                _mm_unpacklo_epi64(q(i + 2), q(i + 3)), 1);
    const __m256i p0 = _mm256_shuffle_epi8(w, left_mask);
    const __m256i p1 = _mm256_shuffle_epi8(w, right_mask);
    const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    const __m256i h = _mm256_add_epi16(_mm256_xor_si256(_mm256_slli_epi16(p0, 8), bias),
                                       _mm256_mullo_epi16(_mm256_sub_epi16(p1, p0), u));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 3),
                        _mm256_permutevar8x32_epi32(h, pack));
  }
  return i;
}

__attribute__((target("avx2"))) void BlendColumnsAvx2(const BilinearTables& t, const uint8_t* row,
                                                      int16_t* out) {
  int32_t i = BlendPairsAvx2(t, row, out, t.vector_first, t.pairs_last);
  i = BlendGatheredAvx2(t, row, out, i, t.vector_last);
  BlendColumnsScalar(t, row, out, i, t.vector_last);
}

// (sum + 32768 * 256) >> 16 = (sum >> 16) + 128: the rows are blended to signed bytes and
// moved up by 128 at the end.
__attribute__((target("avx2"))) inline __m256i BlendRows256(const int16_t* h0, const int16_t* h1,
                                                            __m256i weights) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1));
  const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), 16);
  const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), 16);
  return _mm256_packs_epi32(lo, hi);  // in order: unpack and pack stay within the halves
}

__attribute__((target("avx2"))) void BlendRowsAvx2(const int16_t* h0, const int16_t* h1, int32_t v,
                                                   uint8_t* out, int32_t count) {
  const __m256i weights = _mm256_set1_epi32((v << 16) | (256 - v));
  int32_t k = 0;
  for (;;) {
    if (k + 32 > count) {
      if (count < 32 || k == count) break;
      k = count - 32;  // the last 32 again, overlapping: same bytes
    }
    const __m256i bytes =
        _mm256_xor_si256(_mm256_packs_epi16(BlendRows256(h0 + k, h1 + k, weights),
                                            BlendRows256(h0 + k + 16, h1 + k + 16, weights)),
                         _mm256_set1_epi8(-128));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_permute4x64_epi64(bytes, 0xD8));
    k += 32;
  }
  BlendRowsSse2(h0 + k, h1 + k, v, out + k, count - k);
}

// Both passes for 4 columns from column k of BlendPairs4, as signed 16-bit values in the order
// of its lanes (unpack and pack stay within the halves).
__attribute__((target("avx2"))) inline __m256i ReducePairs4(const BilinearTables& t,
                                                            const uint8_t* row0,
                                                            const uint8_t* row1, __m256i weights,
                                                            int32_t k) {
  const __m256i pair_weights = LoadPairWeights(t, k);
  const __m256i a = BlendPairs4(row0 + t.window[k], pair_weights);
  const __m256i b = BlendPairs4(row1 + t.window[k], pair_weights);
  const __m256i lo = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), 16);
  const __m256i hi = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), 16);
  return _mm256_packs_epi32(lo, hi);
}

__attribute__((target("avx2"))) inline void Prefetch(const uint8_t* base, int32_t offset) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) + uintptr_t(offset)),
               _MM_HINT_T0);
}

// Both passes at once for one destination row, for reductions to half or less, where no source
// row serves two destination rows: the blended rows stay in registers. Columns
// [vector_first, end) in groups of 8, with end such that each 32-byte store of 24 bytes stays
// inside the row; returns end. The caller does the other columns afterwards.
__attribute__((target("avx2"))) int32_t ReduceRowAvx2(const BilinearTables& t, const uint8_t* row0,
                                                      const uint8_t* row1, int32_t v, uint8_t* out,
                                                      int32_t count) {
  const __m256i weights = _mm256_set1_epi32((v << 16) | (256 - v));
  constexpr char z = -1;
  const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, z, z, z, z,  //
                                           0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, z, z, z, z);
  const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  int32_t i = t.vector_first;
  for (; i + 8 <= t.pairs_last && i * 3 + 32 <= count; i += 8) {
    // Ask for the bytes 1.5 KiB ahead in both rows: a frame tick's desktop picture comes from
    // memory, not from the caches, and two streams at once outrun the hardware's own guesses.
    // Addresses past the row are fine: a prefetch never faults.
    Prefetch(row0, t.window[i] + 1536);
    Prefetch(row1, t.window[i] + 1536);
    // Bytes in 64-bit quarters: columns 0-1, 4-5, 2-3, 6-7, each 6 bytes and 2 spare.
    const __m256i bytes =
        _mm256_xor_si256(_mm256_packs_epi16(ReducePairs4(t, row0, row1, weights, i),
                                            ReducePairs4(t, row0, row1, weights, i + 4)),
                         _mm256_set1_epi8(-128));
    const __m256i ordered = _mm256_shuffle_epi8(_mm256_permute4x64_epi64(bytes, 0xD8), squeeze);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 3),
                        _mm256_permutevar8x32_epi32(ordered, pack));
  }
  return i;
}

// Exact halving of the width with AVX-512, both passes in registers, 60 destination bytes (20
// pixels) a block. Destination byte K (pixel K / 3, channel c = K % 3) blends the source bytes
// 2K - c and 2K - c + 3 of both rows, so 15 destination bytes (5 pixels) come from 30 source
// bytes and one 64-byte load of each row serves two such quarters. A byte permute over the two
// rows' loads gathers, per destination byte, the four bytes (top left, bottom left, top right,
// bottom right). Moved down by 128 (signed) and multiplied by the unsigned row weights
// (256 - v, v) they give the column blends g - 32768 exactly, and a word multiply-add with
// (256 - u, u) the whole sum minus 32768 * 256, whose byte 2 is the result moved down by 128.
constexpr int32_t kHalvingBlockBytes = 60;
constexpr int32_t kPrefetchAhead = 512;

struct HalvingConstants {
  __m512i quads[2];  // the first and the second quarter of a load
  __m512i extract;   // byte 2 of the sums of two registers, 30 bytes, then again from 30 on
};

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) HalvingConstants MakeHalvingConstants() {
  HalvingConstants k;
  alignas(64) uint8_t bytes[64];
  for (int quarter = 0; quarter < 2; ++quarter) {
    for (int n = 0; n < 16; ++n) {
      const int left = n < 15 ? 30 * quarter + 2 * n - n % 3 : 0;
      bytes[4 * n] = static_cast<uint8_t>(left);
      bytes[4 * n + 1] = static_cast<uint8_t>(64 + left);
      bytes[4 * n + 2] = static_cast<uint8_t>(left + 3);
      bytes[4 * n + 3] = static_cast<uint8_t>(64 + left + 3);
    }
    k.quads[quarter] = _mm512_load_si512(bytes);
  }
  for (int n = 0; n < 64; ++n) {
    const int j = n < 30 ? n : n - 30;
    bytes[n] = static_cast<uint8_t>((j < 15 ? 4 * j + 2 : 64 + 4 * (j - 15) + 2) & 127);
  }
  k.extract = _mm512_load_si512(bytes);
  return k;
}

// 2 quarters: p0 and p1 point at their first source byte, with 64 bytes readable; w0 and w1
// hold their column weights.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline void HalveQuarters(
    const uint8_t* p0, const uint8_t* p1, const HalvingConstants& k, __m512i row_weights,
    __m512i w0, __m512i w1, __m512i* first, __m512i* second) {
  const __m512i flip = _mm512_set1_epi8(-128);
  const __m512i a = _mm512_xor_si512(_mm512_loadu_si512(p0), flip);
  const __m512i b = _mm512_xor_si512(_mm512_loadu_si512(p1), flip);
  *first = _mm512_madd_epi16(
      _mm512_maddubs_epi16(row_weights, _mm512_permutex2var_epi8(a, k.quads[0], b)), w0);
  *second = _mm512_madd_epi16(
      _mm512_maddubs_epi16(row_weights, _mm512_permutex2var_epi8(a, k.quads[1], b)), w1);
}

// One block: p0 and p1 point at its first source byte in the two rows, with 124 bytes
// readable; writes 64 destination bytes, the last 4 of them garbage. `uniform` is the block's
// column weight pair when all its pixels share it (the common case: u changes every 256
// columns), else 0 and `weights` holds them per quarter.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline void HalveBlock(
    const uint8_t* p0, const uint8_t* p1, const uint8_t* weights, uint32_t uniform,
    const HalvingConstants& k, __m512i row_weights, uint8_t* out) {
  __m512i w[4];
  if (uniform != 0) {
    w[0] = w[1] = w[2] = w[3] = _mm512_set1_epi32(static_cast<int32_t>(uniform));
  } else {
    for (int q = 0; q < 4; ++q) w[q] = _mm512_loadu_si512(weights + 64 * q);
  }
  __m512i s[4];
  HalveQuarters(p0, p1, k, row_weights, w[0], w[1], &s[0], &s[1]);
  HalveQuarters(p0 + 60, p1 + 60, k, row_weights, w[2], w[3], &s[2], &s[3]);
  const __m512i bytes =
      _mm512_mask_blend_epi8(~0ull << 30, _mm512_permutex2var_epi8(s[0], k.extract, s[1]),
                             _mm512_permutex2var_epi8(s[2], k.extract, s[3]));
  _mm512_storeu_si512(out, _mm512_xor_si512(bytes, _mm512_set1_epi8(-128)));
}

// One destination row of `count` bytes from two source rows of 2 * count bytes.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void HalveRowAvx512(
    const BilinearTables& t, const HalvingConstants& constants, const uint8_t* row0,
    const uint8_t* row1, int32_t v, uint8_t* out, int32_t count) {
  // A copy in registers: the stores below could otherwise alias the constants.
  const HalvingConstants k = constants;
  // The row weights are bytes: 256 T (v = 0) is taken as 128 T + 128 T.
  if (v == 0) {
    row1 = row0;
    v = 128;
  }
  const __m512i row_weights = _mm512_set1_epi16(static_cast<int16_t>((v << 8) | (256 - v)));
  const uint8_t* weights = t.halving_weights.data();
  const uint32_t* uniform = t.halving_uniform.data();
  int32_t done = 0;
  // In place while the loads and the 64-byte store stay inside the rows.
  for (; done + 64 <= count && 2 * done + 124 <= 2 * count; done += kHalvingBlockBytes) {
    // Two streams at once outrun the hardware's own guesses; a prefetch never faults.
    Prefetch(row0, 2 * done + kPrefetchAhead);
    Prefetch(row0, 2 * done + kPrefetchAhead + 64);
    Prefetch(row1, 2 * done + kPrefetchAhead);
    Prefetch(row1, 2 * done + kPrefetchAhead + 64);
    HalveBlock(row0 + 2 * done, row1 + 2 * done, weights, *uniform++, k, row_weights, out + done);
    weights += 256;
  }
  // The rest on copies.
  for (; done < count; done += kHalvingBlockBytes) {
    alignas(64) uint8_t a[128] = {};
    alignas(64) uint8_t b[128] = {};
    alignas(64) uint8_t o[64];
    const size_t bytes = size_t(std::min(124, 2 * (count - done)));
    std::memcpy(a, row0 + 2 * done, bytes);
    std::memcpy(b, row1 + 2 * done, bytes);
    HalveBlock(a, b, weights, *uniform++, k, row_weights, o);
    std::memcpy(out + done, o, size_t(std::min(kHalvingBlockBytes, count - done)));
    weights += 256;
  }
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) const HalvingConstants&
TheHalvingConstants() {
  static const HalvingConstants constants = MakeHalvingConstants();
  return constants;
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ScaleHalvingColumnsAvx512(
    const BilinearTables& t, const ImageView& destination, const ImageView& source,
    const BilinearAxis& ya) {
  const HalvingConstants& constants = TheHalvingConstants();
  for (int32_t j = 0; j < destination.Height; ++j) {
    const Sample s = SampleAt(ya, j, source.Height);
    HalveRowAvx512(t, constants, source.Data + int64_t{s.first} * source.Stride,
                   source.Data + int64_t{s.second} * source.Stride,
                   static_cast<int32_t>(s.fraction),
                   destination.Data + int64_t{j} * destination.Stride, destination.Width * 3);
  }
}

// A reduction of one halving step followed by a resampling that halves the width again
// (1920x1080 -> 960x540 -> 480x270), both steps with the AVX-512 halving: each half-size row is
// made when the second step first needs it, into one of two rows kept per thread, so the
// half-size picture never leaves the first-level cache. `first` and `second` are the column
// tables of the two steps.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void HalveTwiceAvx512(
    const BilinearTables& first, const BilinearTables& second, const ImageView& destination,
    const ImageView& source, int32_t half_height) {
  const HalvingConstants& constants = TheHalvingConstants();
  const int32_t half_count = destination.Width * 6;
  thread_local std::vector<uint8_t> rows[2];
  int32_t row_of[2] = {-1, -1};
  for (auto& row : rows) row.resize(size_t(half_count));
  const BilinearAxis ya1 = MakeBilinearAxis(source.Height, half_height);
  const BilinearAxis ya2 = MakeBilinearAxis(half_height, destination.Height);
  const auto half_row = [&](int32_t r, int32_t keep) -> const uint8_t* {
    for (int n = 0; n < 2; ++n) {
      if (row_of[n] == r) return rows[n].data();
    }
    const int n = row_of[0] == keep ? 1 : 0;
    const Sample s = SampleAt(ya1, r, source.Height);
    HalveRowAvx512(first, constants, source.Data + int64_t{s.first} * source.Stride,
                   source.Data + int64_t{s.second} * source.Stride,
                   static_cast<int32_t>(s.fraction), rows[n].data(), half_count);
    row_of[n] = r;
    return rows[n].data();
  };
  for (int32_t j = 0; j < destination.Height; ++j) {
    const Sample s = SampleAt(ya2, j, half_height);
    const uint8_t* row0 = half_row(s.first, s.second);
    const uint8_t* row1 = half_row(s.second, s.first);
    HalveRowAvx512(second, constants, row0, row1, static_cast<int32_t>(s.fraction),
                   destination.Data + int64_t{j} * destination.Stride, destination.Width * 3);
  }
}

#endif  // QUILLON_IMAGE_OPS_X86

void BlendColumns(const BilinearTables& t, const uint8_t* row, int16_t* out, int32_t width,
                  SimdLevel level) {
  BlendColumnsScalar(t, row, out, 0, t.vector_first);
#if defined(QUILLON_IMAGE_OPS_X86)
  if (level == SimdLevel::kAvx2) {
    BlendColumnsAvx2(t, row, out);
  } else if (level == SimdLevel::kSse2) {
    BlendColumnsSse2(t, row, out);
  } else {
    BlendColumnsScalar(t, row, out, t.vector_first, t.vector_last);
  }
#else
  (void)level;
  BlendColumnsScalar(t, row, out, t.vector_first, t.vector_last);
#endif
  // After the vector loops, whose last stores may spill into these columns.
  BlendColumnsScalar(t, row, out, t.vector_last, width);
}

void BlendRows(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count,
               SimdLevel level) {
#if defined(QUILLON_IMAGE_OPS_X86)
  if (level == SimdLevel::kAvx2) return BlendRowsAvx2(h0, h1, v, out, count);
  if (level == SimdLevel::kSse2) return BlendRowsSse2(h0, h1, v, out, count);
#else
  (void)level;
#endif
  BlendRowsScalar(h0, h1, v, out, 0, count);
}

// The blended row of source row y, computed unless one of the two kept rows holds it; the kept
// row that holds `keep` is not reused.
const int16_t* BlendedRow(BilinearTables& t, const ImageView& source, int32_t y, int32_t keep,
                          int32_t width, SimdLevel level) {
  for (int s = 0; s < 2; ++s) {
    if (t.row_of[s] == y) return t.rows[s].data();
  }
  const int s = t.row_of[0] == keep ? 1 : 0;
  BlendColumns(t, source.Data + int64_t{y} * source.Stride, t.rows[s].data(), width, level);
  t.row_of[s] = y;
  return t.rows[s].data();
}

// Process-wide work buffer of ScaleDownHalving (see there).
std::vector<uint8_t>& Scratch() {
  static std::vector<uint8_t> buffer;
  return buffer;
}

}  // namespace

namespace image_ops_internal {

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

size_t ScratchBufferBytes() {
  return Scratch().size();
}

}  // namespace image_ops_internal

void ScaleBilinear(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  SimdLevel level = ActiveSimdLevel();
  BilinearTables& t = ThreadTables(source.Width, destination.Width, level);
  PrepareColumns(t, source.Width, destination.Width, level);
  const int32_t count = destination.Width * 3;
  for (auto& row : t.rows) row.resize(size_t(count) + kRowSlack);
  t.row_of[0] = t.row_of[1] = -1;
  const BilinearAxis ya = MakeBilinearAxis(source.Height, destination.Height);
#if defined(QUILLON_IMAGE_OPS_X86)
  if (level == SimdLevel::kAvx512 && t.halving_columns) {
    return ScaleHalvingColumnsAvx512(t, destination, source, ya);
  }
  // The other shapes take the AVX2 paths.
  if (level == SimdLevel::kAvx512) level = SimdLevel::kAvx2;
  // Only when the pair groups reach to the last few columns: the columns left over are done one
  // by one, which would be slow for more than a few (an odd source width drifts off the pairs).
  if (level == SimdLevel::kAvx2 && source.Height >= 2 * destination.Height &&
      t.pairs_last > t.vector_first && t.pairs_last + 8 > t.vector_last) {
    for (int32_t j = 0; j < destination.Height; ++j) {
      const Sample s = SampleAt(ya, j, source.Height);
      const uint8_t* row0 = source.Data + int64_t{s.first} * source.Stride;
      const uint8_t* row1 = source.Data + int64_t{s.second} * source.Stride;
      const auto v = static_cast<int32_t>(s.fraction);
      uint8_t* out = destination.Data + int64_t{j} * destination.Stride;
      const int32_t end = ReduceRowAvx2(t, row0, row1, v, out, count);
      BlendPixelsScalar(t, row0, row1, v, out, 0, t.vector_first);
      BlendPixelsScalar(t, row0, row1, v, out, end, destination.Width);
    }
    return;
  }
#endif
  for (int32_t j = 0; j < destination.Height; ++j) {
    const Sample s = SampleAt(ya, j, source.Height);
    const auto v = static_cast<int32_t>(s.fraction);
    const int16_t* h0 = BlendedRow(t, source, s.first, s.second, destination.Width, level);
    // With v = 0 the second row has no weight.
    const int16_t* h1 =
        v == 0 ? h0 : BlendedRow(t, source, s.second, s.first, destination.Width, level);
    BlendRows(h0, h1, v, destination.Data + int64_t{j} * destination.Stride, count, level);
  }
}

// The work buffer is process-wide and used only from the frame tick's thread, which is the only
// caller; it grows when a source needs more than it holds and is never freed, so after the
// largest source has been seen no call allocates.
void ScaleDownHalving(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  std::vector<uint8_t>& scratch = Scratch();
  const size_t needed = HalvingWorkBytes(destination, source);
  if (scratch.size() < needed) scratch.resize(needed);
#if defined(QUILLON_IMAGE_OPS_X86)
  // One halving step, then a last one that halves the width too: both at once, without the
  // work buffer (same bytes; with more steps the source's bytes serve as work space, so those
  // take the steps one by one).
  const int32_t half_width = source.Width / 2;
  const int32_t half_height = source.Height / 2;
  if (ActiveSimdLevel() == SimdLevel::kAvx512 && needed > 0 &&
      !(half_width / 2 > destination.Width && half_height / 2 > destination.Height)) {
    BilinearTables& first = ThreadTables(source.Width, half_width, SimdLevel::kAvx512);
    PrepareColumns(first, source.Width, half_width, SimdLevel::kAvx512);
    BilinearTables& second = ThreadTables(half_width, destination.Width, SimdLevel::kAvx512);
    PrepareColumns(second, half_width, destination.Width, SimdLevel::kAvx512);
    if (first.halving_columns && second.halving_columns) {
      return HalveTwiceAvx512(first, second, destination, source, half_height);
    }
  }
#endif
  HalveThenScale(destination, source, scratch.data(), &ScaleBilinear);
}

void PasteScaledNearest(const ImageView& destination, int32_t x, int32_t y, const ImageView& size,
                        const ImageView& source) {
  if (!HasPixels(destination) || !HasSize(size) || !HasPixels(source)) return;
  x = PullBack(x, size.Width, destination.Width);
  y = PullBack(y, size.Height, destination.Height);
  const Span cols = ClipSpan(x, size.Width, destination.Width);
  const Span rows = ClipSpan(y, size.Height, destination.Height);
  if (cols.first >= cols.last || rows.first >= rows.last) return;
  const uint32_t xr = NearestStep(source.Width, size.Width);
  const uint32_t yr = NearestStep(source.Height, size.Height);
  thread_local std::vector<int32_t> offsets;
  offsets.resize(size_t(cols.last - cols.first));
  for (int32_t j = cols.first; j < cols.last; ++j) {
    offsets[size_t(j - cols.first)] = NearestIndex(xr, j, source.Width) * 3;
  }
  const int32_t pixels = cols.last - cols.first;
  const int32_t source_row_bytes = source.Width * 3;
  int32_t previous = -1;
  const uint8_t* previous_out = nullptr;
  for (int32_t i = rows.first; i < rows.last; ++i) {
    const int32_t sy = NearestIndex(yr, i, source.Height);
    uint8_t* out =
        destination.Data + int64_t{y + i} * destination.Stride + int64_t{x + cols.first} * 3;
    if (sy == previous) {
      std::memcpy(out, previous_out, size_t(pixels) * 3);
      continue;
    }
    const uint8_t* in = source.Data + int64_t{sy} * source.Stride;
    // 4 bytes a pixel where the source allows; the 4th lands on the next pixel, written after.
    int32_t k = 0;
    for (; k + 1 < pixels && offsets[size_t(k)] + 4 <= source_row_bytes; ++k) {
      std::memcpy(out + k * 3, in + offsets[size_t(k)], 4);
    }
    for (; k < pixels; ++k) std::memcpy(out + k * 3, in + offsets[size_t(k)], 3);
    previous = sy;
    previous_out = out;
  }
}

void PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  x = PullBack(x, source.Width, destination.Width);
  y = PullBack(y, source.Height, destination.Height);
  const Span cols = ClipSpan(x, source.Width, destination.Width);
  const Span rows = ClipSpan(y, source.Height, destination.Height);
  if (cols.first >= cols.last) return;
  for (int32_t r = rows.first; r < rows.last; ++r) {
    std::memcpy(
        destination.Data + int64_t{y + r} * destination.Stride + int64_t{x + cols.first} * 3,
        source.Data + int64_t{r} * source.Stride + int64_t{cols.first} * 3,
        size_t(cols.last - cols.first) * 3);
  }
}

}  // namespace quillon
