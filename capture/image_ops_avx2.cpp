// The rows of the bilinear resampler with AVX2: 16 values of 16 bits a register, and reductions
// to half size or less (every halving step), which read two fresh source rows for every
// destination row, with both passes in registers, one destination row at a time, as the SSSE3
// rows do it (image_ops_ssse3.cpp) with two groups a register, and a source exactly twice as
// wide with a row of its own (HalveRowInBlocks). Every function here carries the target attribute
// "avx2" and runs only when the processor has it.
#include "capture/image_ops_internal.h"

#if defined(QUILLON_IMAGE_OPS_X86)
#include <immintrin.h>

#include <cstring>

namespace quillon::image_ops_internal {

namespace {

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

// The 8 bytes at p, then the 8 at q. (A function, not a lambda: a lambda would not take the
// target attribute, and a 32-bit build has no SSE outside it.)
__attribute__((target("avx2"))) inline __m128i TwoWindows(const uint8_t* p, const uint8_t* q) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)));
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
  for (; i + 4 <= last; i += 4, lanes += 16) {
    const __m256i w = _mm256_inserti128_si256(
        _mm256_castsi128_si256(TwoWindows(row + window[i], row + window[i + 1])),
        TwoWindows(row + window[i + 2], row + window[i + 3]), 1);
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

// The horizontal blends h - 32768 of two groups from the 16 bytes at p and at q (each loaded into
// both halves, which costs no shuffle, then one half of each taken).
__attribute__((target("avx2"))) inline __m256i BlendGroups2(const uint8_t* p, const uint8_t* q,
                                                            __m256i pick, __m256i weights) {
  const __m256i bytes = _mm256_blend_epi32(
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q))), 0xF0);
  return _mm256_maddubs_epi16(
      weights, _mm256_xor_si256(_mm256_shuffle_epi8(bytes, pick), _mm256_set1_epi8(-128)));
}

// Both passes for two groups with the tables at offset, shuffle and weights, one a 128-bit half,
// as in image_ops_ssse3.cpp, up to the sums: each 32-bit sum is the result moved down by 128 in
// its byte 2, the first 4 results of each group in `low`, the next 3 (and an unused one) in
// `high`.
__attribute__((target("avx2"))) inline void ReduceGroups2(
    const uint8_t* row0, const uint8_t* row1, const int32_t* offset, const uint8_t* shuffle,
    const uint8_t* weights, __m256i row_weights, __m256i* low, __m256i* high) {
  const __m256i pick = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffle));
  const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights));
  const __m256i h0 = BlendGroups2(row0 + offset[0], row0 + offset[1], pick, w);
  const __m256i h1 = BlendGroups2(row1 + offset[0], row1 + offset[1], pick, w);
  *low = _mm256_madd_epi16(_mm256_unpacklo_epi16(h0, h1), row_weights);
  *high = _mm256_madd_epi16(_mm256_unpackhi_epi16(h0, h1), row_weights);
}

// Byte 2 of the first `count` 32-bit lanes to the bytes from `first` on, within each 128-bit
// half; zeros elsewhere.
__attribute__((target("avx2"))) inline __m256i ByteTwos(int first, int count) {
  alignas(32) uint8_t mask[32];
  std::memset(mask, 0x80, sizeof mask);
  for (int n = 0; n < count; ++n) mask[first + n] = mask[16 + first + n] = uint8_t(4 * n + 2);
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(mask));
}

// The byte shuffles of the halving row (HalveRowInBlocks): per 128-bit half, the (left, 0,
// right, 0) words of 4 destination bytes from 16 source bytes. A 32-byte load from 2 bytes before
// the left byte of destination byte n holds n to n + 3 in its low half and n + 8 to n + 11 in its
// high one; the shuffle depends on n % 3 only.
struct HalvingPicks {
  alignas(32) uint8_t bytes[3][32];
};

constexpr HalvingPicks MakeHalvingPicks() {
  HalvingPicks k{};
  for (int32_t c = 0; c < 3; ++c) {
    const int32_t window = HalvingLeft(c) - 2;
    for (int32_t j = 0; j < 8; ++j) {
      const int32_t n = c + (j < 4 ? j : j + 4);
      const int32_t left = HalvingLeft(n) - window - (j < 4 ? 0 : 16);
      k.bytes[c][4 * j] = static_cast<uint8_t>(left);
      k.bytes[c][4 * j + 1] = 0x80;
      k.bytes[c][4 * j + 2] = static_cast<uint8_t>(left + 3);
      k.bytes[c][4 * j + 3] = 0x80;
    }
  }
  return k;
}

constexpr HalvingPicks kHalvingPicks = MakeHalvingPicks();

// The sums of destination bytes n to n + 3 and n + 8 to n + 11 from the loads at p0 and p1.
__attribute__((target("avx2"))) inline __m256i HalvingSums(const uint8_t* p0, const uint8_t* p1,
                                                           __m256i pick, __m256i top,
                                                           __m256i bottom) {
  const __m256i t =
      _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0)), pick);
  const __m256i b =
      _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1)), pick);
  return _mm256_add_epi32(_mm256_madd_epi16(t, top), _mm256_madd_epi16(b, bottom));
}

// Destination bytes n to n + 15 of a block as words, in order across the halves.
__attribute__((target("avx2"))) inline __m256i HalvingPiece(const uint8_t* p0, const uint8_t* p1,
                                                            int32_t n, const __m256i* pick,
                                                            __m256i top, __m256i bottom) {
  const int32_t a = HalvingLeft(n) - 2;
  const int32_t b = HalvingLeft(n + 4) - 2;
  const __m256i low = HalvingSums(p0 + a, p1 + a, pick[n % 3], top, bottom);
  const __m256i high = HalvingSums(p0 + b, p1 + b, pick[(n + 4) % 3], top, bottom);
  return _mm256_packs_epi32(_mm256_srli_epi32(low, 16), _mm256_srli_epi32(high, 16));
}

// Blocks of the halving row: 96 destination bytes each, 32 a store.
__attribute__((target("avx2"))) void HalveBlocksAvx2(const uint8_t* row0, const uint8_t* row1,
                                                     int32_t top, int32_t bottom, uint8_t* out,
                                                     int32_t count) {
  __m256i pick[3];
  for (int c = 0; c < 3; ++c) {
    pick[c] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kHalvingPicks.bytes[c]));
  }
  const __m256i top_weights = _mm256_set1_epi32(top);
  const __m256i bottom_weights = _mm256_set1_epi32(bottom);
  for (int32_t block = 0; block < count; ++block) {
    PrefetchHalvingBlock(row0, row1);
#pragma GCC unroll 3
    for (int32_t n = 0; n < kHalvingBlock; n += 32) {
      const __m256i bytes =
          _mm256_packus_epi16(HalvingPiece(row0, row1, n, pick, top_weights, bottom_weights),
                              HalvingPiece(row0, row1, n + 16, pick, top_weights, bottom_weights));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n),
                          _mm256_permute4x64_epi64(bytes, 0xD8));
    }
    row0 += 2 * kHalvingBlock;
    row1 += 2 * kHalvingBlock;
    out += kHalvingBlock;
  }
}

}  // namespace

__attribute__((target("avx2"))) void BlendColumnsAvx2(const BilinearTables& t, const uint8_t* row,
                                                      int16_t* out) {
  int32_t i = BlendPairsAvx2(t, row, out, t.vector_first, t.pairs_last);
  i = BlendGatheredAvx2(t, row, out, i, t.vector_last);
  BlendColumnsScalar(t, row, out, i, t.vector_last);
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

// Both passes at once for one destination row, for reductions to half or less, where no source
// row serves two destination rows: the blended rows stay in registers. 4 groups of 7 destination
// bytes an iteration, stored as two 16-byte halves of 14.
__attribute__((target("avx2"))) int32_t ReduceRowAvx2(const BilinearTables& t, const uint8_t* row0,
                                                      const uint8_t* row1, int32_t v, uint8_t* out,
                                                      int32_t count) {
  const __m256i row_weights = _mm256_set1_epi32((v << 16) | (256 - v));
  const __m256i first = ByteTwos(0, 4);
  const __m256i second = ByteTwos(4, 3);
  const __m256i third = ByteTwos(7, 4);
  const __m256i fourth = ByteTwos(11, 3);
  const int32_t* offset = t.group_offset.data();
  const uint8_t* shuffle = t.group_shuffle.data();
  const uint8_t* weights = t.group_weights.data();
  int32_t done = 0;
  // The second store's last 2 bytes belong to the next group, stored later.
  for (; done + 30 <= count; done += 28, offset += 4, shuffle += 64, weights += 64) {
    // A frame tick's desktop picture comes from memory, and two streams at once outrun the
    // hardware's own guesses; a prefetch never faults.
    Prefetch(row0, offset[0] + 1536);
    Prefetch(row1, offset[0] + 1536);
    // Groups g and g + 2 (the tables' order), then g + 1 and g + 3: the 7 results of g, then
    // those of g + 1 in the low half, g + 2 and g + 3 in the high one.
    __m256i sums[4];
    ReduceGroups2(row0, row1, offset, shuffle, weights, row_weights, &sums[0], &sums[1]);
    ReduceGroups2(row0, row1, offset + 2, shuffle + 32, weights + 32, row_weights, &sums[2],
                  &sums[3]);
    const __m256i ordered =
        _mm256_xor_si256(_mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(sums[0], first),
                                                         _mm256_shuffle_epi8(sums[1], second)),
                                         _mm256_or_si256(_mm256_shuffle_epi8(sums[2], third),
                                                         _mm256_shuffle_epi8(sums[3], fourth))),
                         _mm256_set1_epi8(-128));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm256_castsi256_si128(ordered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 14),
                     _mm256_extracti128_si256(ordered, 1));
  }
  return done;
}

// Reads from 2 bytes before a block's first source byte to 198 after it (the last load: 32 bytes
// from HalvingLeft(84) - 2).
bool HalveRowAvx2(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                  uint8_t* out, int32_t count) {
  return HalveRowInBlocks(t, row0, row1, v, out, count, {&HalveBlocksAvx2, -2, 198});
}

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
