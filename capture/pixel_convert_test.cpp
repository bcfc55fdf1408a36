#include "capture/pixel_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace quillon {
namespace {

using Converter = void (*)(const uint8_t*, uint8_t*, int32_t);

// Every fast path against the plain one on random pixels and lengths, with guard bytes after
// the destination so a store past the end shows.
void CompareWithPlain(Converter converter) {
  std::mt19937 random(42);
  for (int round = 0; round < 300; ++round) {
    int32_t pixels = round < 100 ? round : static_cast<int32_t>(random() % 4000);
    std::vector<uint8_t> source(static_cast<size_t>(pixels) * 4 + 1);
    for (uint8_t& b : source) b = static_cast<uint8_t>(random());
    std::vector<uint8_t> expected(static_cast<size_t>(pixels) * 3 + 64, 0xA5);
    std::vector<uint8_t> actual(expected.size(), 0xA5);
    ConvertBgrxToBgrPlain(source.data(), expected.data(), pixels);
    converter(source.data(), actual.data(), pixels);
    ASSERT_EQ(actual, expected) << "pixels " << pixels;
  }
}

TEST(PixelConvertTest, PlainDropsTheFourthByte) {
  const uint8_t source[] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[6] = {};
  ConvertBgrxToBgrPlain(source, out, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
}

TEST(PixelConvertTest, DispatchedMatchesPlain) {
  CompareWithPlain(&ConvertBgrxToBgr);
}

#if defined(__x86_64__) || defined(__i386__)
TEST(PixelConvertTest, Ssse3MatchesPlain) {
  if (!CpuHasSsse3()) GTEST_SKIP() << "this processor has no SSSE3";
  CompareWithPlain(&ConvertBgrxToBgrSsse3);
}

TEST(PixelConvertTest, Avx2MatchesPlain) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "this processor has no AVX2";
  CompareWithPlain(&ConvertBgrxToBgrAvx2);
}
#endif

}  // namespace
}  // namespace quillon
