// The rows of the bilinear resampler with SSE2, which every x86-64 processor has: 8 values of 16
// bits a register. The target attribute "sse2" matters to a 32-bit build, which runs these rows
// only where the processor has SSE2.
#include "capture/image_ops_internal.h"

#if defined(QUILLON_IMAGE_OPS_X86)
#include <immintrin.h>

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

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
