// BGRX -> BGR row conversion: plain, SSSE3 (16 pixels a step) and AVX2 (32 pixels a step),
// chosen at run time.
#include "capture/pixel_convert.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quillon {

void ConvertBgrxToBgrPlain(const uint8_t* source, uint8_t* destination, int32_t pixels) {
  for (int32_t i = 0; i < pixels; ++i) {
    destination[0] = source[0];
    destination[1] = source[1];
    destination[2] = source[2];
    source += 4;
    destination += 3;
  }
}

void PlaceScreenPicture(const uint8_t* pixels, int32_t stride, int32_t grabWidth,
                        int32_t grabHeight, bool redFirst, uint8_t* buffer, int32_t width,
                        int32_t height) {
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int32_t line = 0; line < grabHeight; ++line) {
    // Screen line 0 is the top; the picture's first row is the bottom line.
    uint8_t* row = buffer + static_cast<size_t>(height - 1 - line) * rowBytes;
    const uint8_t* source = pixels + static_cast<size_t>(line) * static_cast<size_t>(stride);
    if (redFirst) {
      ConvertRgbxToBgr(source, row, grabWidth);
    } else {
      ConvertBgrxToBgr(source, row, grabWidth);
    }
    if (grabWidth < width) std::memset(row + grabWidth * 3, 0, rowBytes - grabWidth * 3);
  }
  std::memset(buffer, 0, static_cast<size_t>(height - grabHeight) * rowBytes);
}

void ConvertRgbxToBgr(const uint8_t* source, uint8_t* destination, int32_t pixels) {
  for (int32_t i = 0; i < pixels; ++i) {
    destination[0] = source[2];
    destination[1] = source[1];
    destination[2] = source[0];
    source += 4;
    destination += 3;
  }
}

#if defined(__x86_64__) || defined(__i386__)

bool CpuHasSsse3() {
  return __builtin_cpu_supports("ssse3");
}
bool CpuHasAvx2() {
  return __builtin_cpu_supports("avx2");
}

namespace {

// Per 16-byte lane: the 12 colour bytes of 4 pixels packed to the front, the rest zero.
#define QUILLON_PACK_BGR_LANE 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1

}  // namespace

__attribute__((target("ssse3"))) void ConvertBgrxToBgrSsse3(const uint8_t* source,
                                                            uint8_t* destination, int32_t pixels) {
  const __m128i pack = _mm_setr_epi8(QUILLON_PACK_BGR_LANE);
  int32_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const __m128i* in = reinterpret_cast<const __m128i*>(source + i * 4);
    __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), pack);
    __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), pack);
    __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), pack);
    __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), pack);
    __m128i* out = reinterpret_cast<__m128i*>(destination + i * 3);
    _mm_storeu_si128(out + 0, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  ConvertBgrxToBgrPlain(source + i * 4, destination + i * 3, pixels - i);
}

__attribute__((target("avx2"))) void ConvertBgrxToBgrAvx2(const uint8_t* source,
                                                          uint8_t* destination, int32_t pixels) {
  const __m256i pack = _mm256_setr_epi8(QUILLON_PACK_BGR_LANE, QUILLON_PACK_BGR_LANE);
  // After the in-lane pack each lane holds 12 bytes in dwords 0-2: gather dwords 0,1,2,4,5,6.
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  int32_t i = 0;
  // Each 32-pixel step writes 96 bytes as four 32-byte stores 24 bytes apart, the last reaching 8
  // bytes past the step: that needs 104 bytes of room, the rest goes the SSSE3 way.
  for (; (int64_t{pixels} - i) * 3 >= 104; i += 32) {
    const __m256i* in = reinterpret_cast<const __m256i*>(source + i * 4);
    uint8_t* out = destination + i * 3;
    for (int k = 0; k < 4; ++k) {
      __m256i packed = _mm256_shuffle_epi8(_mm256_loadu_si256(in + k), pack);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 24 * k),
                          _mm256_permutevar8x32_epi32(packed, gather));
    }
  }
  ConvertBgrxToBgrSsse3(source + i * 4, destination + i * 3, pixels - i);
}

#endif

void ConvertBgrxToBgr(const uint8_t* source, uint8_t* destination, int32_t pixels) {
#if defined(__x86_64__) || defined(__i386__)
  static const auto best = CpuHasAvx2()    ? &ConvertBgrxToBgrAvx2
                           : CpuHasSsse3() ? &ConvertBgrxToBgrSsse3
                                           : &ConvertBgrxToBgrPlain;
  best(source, destination, pixels);
#else
  ConvertBgrxToBgrPlain(source, destination, pixels);
#endif
}

}  // namespace quillon
