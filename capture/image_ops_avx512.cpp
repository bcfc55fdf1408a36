// The rows of the bilinear resampler with AVX-512 BW and the byte permutes of VBMI: the exact
// halving of the width, for sources exactly twice as wide as the destination. Every function here
// carries those target attributes and runs only when the processor has them.
#include "capture/image_ops_internal.h"

#if defined(QUILLON_IMAGE_OPS_X86)
#include <immintrin.h>

#include <cstring>

namespace quillon::image_ops_internal {

namespace {

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

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) const HalvingConstants&
TheHalvingConstants() {
  static const HalvingConstants constants = MakeHalvingConstants();
  return constants;
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

}  // namespace

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) bool HalveRowAvx512(const BilinearTables& t,
                                                                           const uint8_t* row0,
                                                                           const uint8_t* row1,
                                                                           int32_t v, uint8_t* out,
                                                                           int32_t count) {
  // A copy in registers: the stores below could otherwise alias the constants.
  const HalvingConstants k = TheHalvingConstants();
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
  return true;
}

}  // namespace quillon::image_ops_internal

#endif  // QUILLON_IMAGE_OPS_X86
