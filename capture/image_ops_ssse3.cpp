// The rows of the bilinear resampler with SSSE3 (the in-lane byte shuffle and the byte
// multiply-add): reductions to half or less with both passes in registers, in groups of 7
// destination bytes (BilinearTables::group_offset), and a row of its own for a source exactly
// twice as wide (HalveRowInBlocks). Every function here carries the target attribute "ssse3" and
// runs only when the processor has it.
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

// The byte shuffles of the halving row (HalveRowInBlocks): the (left, 0, right, 0) words of
// destination bytes n to n + 3 from the 16 source bytes from the left byte of n on; they depend
// on n % 3 only.
struct HalvingPicks {
  alignas(16) uint8_t bytes[3][16];
};

constexpr HalvingPicks MakeHalvingPicks() {
  HalvingPicks k{};
  for (int32_t c = 0; c < 3; ++c) {
    for (int32_t j = 0; j < 4; ++j) {
      const int32_t left = HalvingLeft(c + j) - HalvingLeft(c);
      k.bytes[c][4 * j] = static_cast<uint8_t>(left);
      k.bytes[c][4 * j + 1] = 0x80;
      k.bytes[c][4 * j + 2] = static_cast<uint8_t>(left + 3);
      k.bytes[c][4 * j + 3] = 0x80;
    }
  }
  return k;
}

constexpr HalvingPicks kHalvingPicks = MakeHalvingPicks();

// The sums of destination bytes n to n + 3 of a block, moved down to the low words.
__attribute__((target("ssse3"))) inline __m128i HalvingSums(const uint8_t* row0,
                                                            const uint8_t* row1, int32_t n,
                                                            const __m128i* pick, __m128i top,
                                                            __m128i bottom) {
  const int32_t at = HalvingLeft(n);
  const __m128i t =
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + at)), pick[n % 3]);
  const __m128i b =
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + at)), pick[n % 3]);
  return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(t, top), _mm_madd_epi16(b, bottom)), 16);
}

// Blocks of the halving row: 96 destination bytes each, 16 a store.
__attribute__((target("ssse3"))) void HalveBlocksSsse3(const uint8_t* row0, const uint8_t* row1,
                                                       int32_t top, int32_t bottom, uint8_t* out,
                                                       int32_t count) {
  __m128i pick[3];
  for (int c = 0; c < 3; ++c) {
    pick[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(kHalvingPicks.bytes[c]));
  }
  const __m128i top_weights = _mm_set1_epi32(top);
  const __m128i bottom_weights = _mm_set1_epi32(bottom);
  for (int32_t block = 0; block < count; ++block) {
    PrefetchHalvingBlock(row0, row1);
#pragma GCC unroll 6
    for (int32_t n = 0; n < kHalvingBlock; n += 16) {
      const __m128i first =
          _mm_packs_epi32(HalvingSums(row0, row1, n, pick, top_weights, bottom_weights),
                          HalvingSums(row0, row1, n + 4, pick, top_weights, bottom_weights));
      const __m128i second =
          _mm_packs_epi32(HalvingSums(row0, row1, n + 8, pick, top_weights, bottom_weights),
                          HalvingSums(row0, row1, n + 12, pick, top_weights, bottom_weights));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_packus_epi16(first, second));
    }
    row0 += 2 * kHalvingBlock;
    row1 += 2 * kHalvingBlock;
    out += kHalvingBlock;
  }
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

// Reads from a block's first source byte to 198 after it (the last load: 16 bytes from
// HalvingLeft(92)).
bool HalveRowSsse3(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                   uint8_t* out, int32_t count) {
  return HalveRowInBlocks(t, row0, row1, v, out, count, {&HalveBlocksSsse3, 0, 198});
}

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
