// The rows of the bilinear resampler with SSE2, which every x86-64 processor has: 8 values of 16
// bits a register. The target attribute "sse2" matters to a 32-bit build, which runs these rows
// only where the processor has SSE2.
#include "capture/image_ops_internal.h"

#if defined(QUILLON_IMAGE_OPS_X86)
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace quillon::image_ops_internal {

namespace {

// h = (P0 << 8) + (P1 - P0) u, taken modulo 2^16 (exact, as h fits), then biased by 32768.
__attribute__((target("sse2"))) inline __m128i RowBlend128(__m128i p0, __m128i p1, __m128i u) {
  const __m128i base = _mm_xor_si128(_mm_slli_epi16(p0, 8), _mm_set1_epi16(-32768));
  return _mm_add_epi16(base, _mm_mullo_epi16(_mm_sub_epi16(p1, p0), u));
}

__attribute__((target("sse2"))) inline __m128i BlendRows128(const int16_t* h0, const int16_t* h1,
                                                            __m128i weights) {
  const __m128i bias = _mm_set1_epi32(32768 << 8);
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1));
  const __m128i lo =
      _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), bias), 16);
  const __m128i hi =
      _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), bias), 16);
  return _mm_packs_epi32(lo, hi);
}

__attribute__((target("sse2"))) inline __m128i PixelWeights(const BilinearTables& t, int32_t i) {
  const uint32_t u = t.fraction[i];
  return _mm_set1_epi32(static_cast<int32_t>((u << 16) | (256 - u)));
}

// The sum of one pixel from its column blends g - 32768 (6 in a row) and (256 - u, u): the whole
// sum minus 32768 * 256, whose bits from 16 on are the result moved down by 128, in the first 3
// lanes. Its (left, right) pairs lie 3 apart; two 8-byte loads and an unpack put them side by
// side.
__attribute__((target("sse2"))) inline __m128i HalvePixel(const int16_t* blends, __m128i u) {
  const __m128i pairs =
      _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(blends)),
                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blends + 3)));
  return _mm_srai_epi32(_mm_madd_epi16(pairs, u), 16);
}

// 4 destination pixels with one fraction from their column blends, stored 4 bytes a pixel: the 4th
// byte of each store is overwritten by the next, so the one after the last pixel must be writable.
__attribute__((target("sse2"))) inline void HalveFour(const int16_t* blends, __m128i u,
                                                      uint8_t* out) {
  __m128i bytes = _mm_xor_si128(
      _mm_packs_epi16(_mm_packs_epi32(HalvePixel(blends, u), HalvePixel(blends + 6, u)),
                      _mm_packs_epi32(HalvePixel(blends + 12, u), HalvePixel(blends + 18, u))),
      _mm_set1_epi8(-128));
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k, bytes = _mm_srli_si128(bytes, 4)) {
    const int32_t result = _mm_cvtsi128_si32(bytes);
    std::memcpy(out + 3 * k, &result, 4);
  }
}

}  // namespace

__attribute__((target("sse2"))) void BlendColumnsSse2(const BilinearTables& t, const uint8_t* row,
                                                      int16_t* out) {
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

__attribute__((target("sse2"))) void BlendRowsSse2(const int16_t* h0, const int16_t* h1, int32_t v,
                                                   uint8_t* out, int32_t count) {
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
  BlendRowsScalar(h0 + k, h1 + k, v, out + k, count - k);
}

// Both passes at once for a source exactly twice as wide, in pieces of up to kHalvingPiece
// destination pixels. SSE2 has neither the byte shuffle nor the byte multiply-add, so the column
// blends come first, on whole registers of both rows: g = T (256 - v) + B v, exact modulo 2^16
// as g fits, moved down by 32768 and kept in a small work row in the first-level cache, from
// which HalvePixel takes each pixel's pairs.
__attribute__((target("sse2"))) bool HalveRowSse2(const BilinearTables& t, const uint8_t* row0,
                                                  const uint8_t* row1, int32_t v, uint8_t* out,
                                                  int32_t count) {
  constexpr int32_t kHalvingPiece = 64;
  alignas(16) int16_t blends[kHalvingPiece * 6 + 8];
  const int32_t width = count / 3;
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(-32768);
  const __m128i top_weight = _mm_set1_epi16(static_cast<int16_t>(256 - v));
  const __m128i bottom_weight = _mm_set1_epi16(static_cast<int16_t>(v));
  int32_t i = 0;
  // Pieces of a multiple of 8 pixels (3 whole registers of source bytes a row); the last pixel of
  // the row is left to the plain row, as the 4-byte store of its result would reach one past.
  for (;;) {
    const int32_t piece = std::min(kHalvingPiece, (width - 1 - i) / 8 * 8);
    if (piece == 0) break;
    // A frame tick's desktop picture comes from memory, and two streams at once outrun the
    // hardware's own guesses; a prefetch never faults.
    for (int32_t k = 0; k < piece * 6; k += 64) {
      Prefetch(row0, 6 * i + k + 512);
      Prefetch(row1, 6 * i + k + 512);
    }
    for (int32_t k = 0; k < piece * 6; k += 16) {
      const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + 6 * i + k));
      const __m128i bottom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + 6 * i + k));
      const __m128i low =
          _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(top, zero), top_weight),
                        _mm_mullo_epi16(_mm_unpacklo_epi8(bottom, zero), bottom_weight));
      const __m128i high =
          _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(top, zero), top_weight),
                        _mm_mullo_epi16(_mm_unpackhi_epi8(bottom, zero), bottom_weight));
      _mm_store_si128(reinterpret_cast<__m128i*>(blends + k), _mm_xor_si128(low, bias));
      _mm_store_si128(reinterpret_cast<__m128i*>(blends + k + 8), _mm_xor_si128(high, bias));
    }
    // One fraction for the whole piece: a halving row's is 128 + i / 256 for pixel i, and the
    // pieces start at multiples of 64 pixels.
    const __m128i u = PixelWeights(t, i);
    for (int32_t p = 0; p < piece; p += 4) HalveFour(blends + 6 * p, u, out + 3 * (i + p));
    i += piece;
  }
  BlendPixelsScalar(t, row0, row1, v, out, i, width);
  return true;
}

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
