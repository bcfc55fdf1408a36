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
#include "capture/image_ops.h"

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
  bool pairs = false;  // window[i] = window[vector_first] + 6 (i - vector_first): halving
  std::vector<int32_t> window;
  // Fractions laid out as the vector loops want them, 4 per column from vector_first on.
  std::vector<uint16_t> lanes;
  // Two blended source rows, h - 32768 per byte, and the source rows they hold.
  std::vector<int16_t> rows[2];
  int32_t row_of[2] = {-1, -1};
};

BilinearTables& ThreadTables() {
  thread_local BilinearTables tables;
  return tables;
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
  t.pairs = true;
  for (int32_t i = t.vector_first; i < t.vector_last; ++i) {
    t.pairs = t.pairs && t.window[i] == t.window[t.vector_first] + 6 * (i - t.vector_first);
  }
  // SSE2 takes two columns at a time, each as 4 lanes (u, u, u, u); AVX2 takes four, two per
  // 128-bit half as (u0, u0, u0, u1, u1, u1, 0, 0).
  const int32_t count = t.vector_last - t.vector_first;
  t.lanes.assign(size_t(count) * 4 + 16, 0);
  for (int32_t k = 0; k < count; ++k) {
    const uint16_t u = t.fraction[t.vector_first + k];
    for (int c = 0; c < 4; ++c) {
      if (level == SimdLevel::kAvx2) {
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

template <bool kPairs>
__attribute__((target("avx2"))) inline __m256i LoadColumns4(const BilinearTables& t,
                                                            const uint8_t* row, int32_t i) {
  if constexpr (kPairs) {
    const uint8_t* p = row + t.window[i];
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  } else {
    const auto q = [&](int32_t k) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + t.window[i + k]));
    };
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(q(0), q(1))),
                                   _mm_unpacklo_epi64(q(2), q(3)), 1);
  }
}

template <bool kPairs>
__attribute__((target("avx2"))) int32_t BlendColumnsAvx2Run(const BilinearTables& t,
                                                            const uint8_t* row, int16_t* out,
                                                            int32_t i, int32_t last) {
  constexpr char z = -1;
  constexpr char b = kPairs ? 6 : 8;  // where the second window of a half starts
  const __m256i left_mask =
      _mm256_setr_epi8(2, z, 3, z, 4, z, b + 2, z, b + 3, z, b + 4, z, z, z, z, z,  //
                       2, z, 3, z, 4, z, b + 2, z, b + 3, z, b + 4, z, z, z, z, z);
  const __m256i right_mask =
      _mm256_setr_epi8(5, z, 6, z, 7, z, b + 5, z, b + 6, z, b + 7, z, z, z, z, z,  //
                       5, z, 6, z, 7, z, b + 5, z, b + 6, z, b + 7, z, z, z, z, z);
  const __m256i bias = _mm256_set1_epi16(-32768);
  const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  for (; i + 4 <= last; i += 4) {
    const __m256i w = LoadColumns4<kPairs>(t, row, i);
    const __m256i p0 = _mm256_shuffle_epi8(w, left_mask);
    const __m256i p1 = _mm256_shuffle_epi8(w, right_mask);
    const __m256i u = _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(t.lanes.data() + size_t(i - t.vector_first) * 4));
    const __m256i h = _mm256_add_epi16(_mm256_xor_si256(_mm256_slli_epi16(p0, 8), bias),
                                       _mm256_mullo_epi16(_mm256_sub_epi16(p1, p0), u));
    // 12 values per 128-bit half -> 24 in a row; the 8 after them are overwritten later.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i * 3),
                        _mm256_permutevar8x32_epi32(h, pack));
  }
  return i;
}

__attribute__((target("avx2"))) void BlendColumnsAvx2(const BilinearTables& t, const uint8_t* row,
                                                      int16_t* out, int32_t row_bytes) {
  int32_t i = t.vector_first;
  if (t.pairs) {
    // Two 16-byte loads at the window and 12 bytes on: stop while they stay inside the row.
    int32_t last = i;
    while (last + 4 <= t.vector_last && t.window[last] + 28 <= row_bytes) last += 4;
    i = BlendColumnsAvx2Run<true>(t, row, out, i, last);
  }
  i = BlendColumnsAvx2Run<false>(t, row, out, i, t.vector_last);
  BlendColumnsScalar(t, row, out, i, t.vector_last);
}

__attribute__((target("avx2"))) inline __m256i BlendRows256(const int16_t* h0, const int16_t* h1,
                                                            __m256i weights) {
  const __m256i bias = _mm256_set1_epi32(32768 << 8);
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1));
  const __m256i lo = _mm256_srli_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), weights), bias), 16);
  const __m256i hi = _mm256_srli_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), weights), bias), 16);
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
    const __m256i bytes = _mm256_packus_epi16(BlendRows256(h0 + k, h1 + k, weights),
                                              BlendRows256(h0 + k + 16, h1 + k + 16, weights));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_permute4x64_epi64(bytes, 0xD8));
    k += 32;
  }
  BlendRowsSse2(h0 + k, h1 + k, v, out + k, count - k);
}

#endif  // QUILLON_IMAGE_OPS_X86

void BlendColumns(const BilinearTables& t, const uint8_t* row, int16_t* out, int32_t width,
                  int32_t row_bytes, SimdLevel level) {
  BlendColumnsScalar(t, row, out, 0, t.vector_first);
#if defined(QUILLON_IMAGE_OPS_X86)
  if (level == SimdLevel::kAvx2) {
    BlendColumnsAvx2(t, row, out, row_bytes);
  } else if (level == SimdLevel::kSse2) {
    BlendColumnsSse2(t, row, out);
  } else {
    BlendColumnsScalar(t, row, out, t.vector_first, t.vector_last);
  }
#else
  (void)level;
  (void)row_bytes;
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
  BlendColumns(t, source.Data + int64_t{y} * source.Stride, t.rows[s].data(), width,
               source.Width * 3, level);
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
  const SimdLevel level = ActiveSimdLevel();
  BilinearTables& t = ThreadTables();
  PrepareColumns(t, source.Width, destination.Width, level);
  const int32_t count = destination.Width * 3;
  for (auto& row : t.rows) row.resize(size_t(count) + kRowSlack);
  t.row_of[0] = t.row_of[1] = -1;
  const BilinearAxis ya = MakeBilinearAxis(source.Height, destination.Height);
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

int PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return 1;
  x = PullBack(x, source.Width, destination.Width);
  y = PullBack(y, source.Height, destination.Height);
  const Span cols = ClipSpan(x, source.Width, destination.Width);
  const Span rows = ClipSpan(y, source.Height, destination.Height);
  if (cols.first >= cols.last) return 1;
  for (int32_t r = rows.first; r < rows.last; ++r) {
    std::memcpy(
        destination.Data + int64_t{y + r} * destination.Stride + int64_t{x + cols.first} * 3,
        source.Data + int64_t{r} * source.Stride + int64_t{cols.first} * 3,
        size_t(cols.last - cols.first) * 3);
  }
  return 1;
}

}  // namespace quillon
