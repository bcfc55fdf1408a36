// The rows of the bilinear resampler with SSSE3 (the in-lane byte shuffle and the byte
// multiply-add): reductions to half or less with both passes in registers, in groups of 7
// destination bytes (BilinearTables::group_offset). Every function here carries the target
// attribute "ssse3" and runs only when the processor has it.
//
// Per group and source row: one 16-byte load, a shuffle into the (left, right) byte pairs, moved
// down by 128 to signed bytes, and a multiply-add with the unsigned weights (256 - u, u) give
// the horizontal blends h - 32768 exactly (-32768 to 32512: no saturation).
// The vertical pass is the word multiply-add of the two rows' blends with (256 - v, v), whose
// sum is the whole weighted sum minus 32768 * 256: shifted down by 16 it is the result moved down
// by 128, a signed byte.
#include "capture/image_ops_internal.h"

#if defined(QUILLON_IMAGE_OPS_X86)
#include <immintrin.h>

namespace quillon::image_ops_internal {

namespace {

// The horizontal blends h - 32768 of one group from the 16 bytes at p.
__attribute__((target("ssse3"))) inline __m128i BlendGroup(const uint8_t* p, __m128i pick,
                                                           __m128i weights) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_maddubs_epi16(weights,
                           _mm_xor_si128(_mm_shuffle_epi8(bytes, pick), _mm_set1_epi8(-128)));
}

// One group: 8 results moved down by 128 as signed words, the last one unused.
__attribute__((target("ssse3"))) inline __m128i ReduceGroup(const uint8_t* row0,
                                                            const uint8_t* row1, int32_t offset,
                                                            const uint8_t* shuffle,
                                                            const uint8_t* weights,
                                                            __m128i row_weights) {
  const __m128i pick = _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle));
  const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
  const __m128i h0 = BlendGroup(row0 + offset, pick, w);
  const __m128i h1 = BlendGroup(row1 + offset, pick, w);
  const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(h0, h1), row_weights), 16);
  const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(h0, h1), row_weights), 16);
  return _mm_packs_epi32(lo, hi);
}

}  // namespace

__attribute__((target("ssse3"))) int32_t ReduceRowSsse3(const BilinearTables& t,
                                                        const uint8_t* row0, const uint8_t* row1,
                                                        int32_t v, uint8_t* out, int32_t count) {
  const __m128i row_weights = _mm_set1_epi32((v << 16) | (256 - v));
  // The 7 results of two groups side by side.
  const __m128i squeeze = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, -1, -1);
  const int32_t* offset = t.group_offset.data();
  const uint8_t* shuffle = t.group_shuffle.data();
  const uint8_t* weights = t.group_weights.data();
  int32_t done = 0;
  // Two groups a store of 16 bytes; the last 2 belong to the next group, stored later.
  for (; done + 16 <= count; done += 14, offset += 2, shuffle += 32, weights += 32) {
    // A frame tick's desktop picture comes from memory, and two streams at once outrun the
    // hardware's own guesses; a prefetch never faults.
    Prefetch(row0, offset[0] + 1024);
    Prefetch(row1, offset[0] + 1024);
    const __m128i a = ReduceGroup(row0, row1, offset[0], shuffle, weights, row_weights);
    const __m128i b = ReduceGroup(row0, row1, offset[1], shuffle + 16, weights + 16, row_weights);
    const __m128i bytes = _mm_xor_si128(_mm_packs_epi16(a, b), _mm_set1_epi8(-128));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_shuffle_epi8(bytes, squeeze));
  }
  return done;
}

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
