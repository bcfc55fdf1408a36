#include "capture/pixel_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace quillon {
namespace {

// The plain conversion drops the fourth byte; every fast path this processor has matches it on
// random pixels and lengths, with guard bytes after the destination so a store past the end shows.
TEST(PixelConvertTest, PlainDropsTheFourthByteAndFastPathsMatchIt) {
  const uint8_t pair[] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[6] = {};
  ConvertBgrxToBgrPlain(pair, out, 2);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
  std::vector<std::pair<const char*, void (*)(const uint8_t*, uint8_t*, int32_t)>> converters = {
      {"dispatched", &ConvertBgrxToBgr}};
#if defined(__x86_64__) || defined(__i386__)
  if (CpuHasSsse3()) converters.emplace_back("SSSE3", &ConvertBgrxToBgrSsse3);
  if (CpuHasAvx2()) converters.emplace_back("AVX2", &ConvertBgrxToBgrAvx2);
#endif
  for (const auto& [name, converter] : converters) {
    std::mt19937 random(42);
    for (int round = 0; round < 300; ++round) {
      int32_t pixels = round < 100 ? round : static_cast<int32_t>(random() % 4000);
      std::vector<uint8_t> source(static_cast<size_t>(pixels) * 4 + 1);
      for (uint8_t& b : source) b = static_cast<uint8_t>(random());
      std::vector<uint8_t> expected(static_cast<size_t>(pixels) * 3 + 64, 0xA5);
      std::vector<uint8_t> actual(expected.size(), 0xA5);
      ConvertBgrxToBgrPlain(source.data(), expected.data(), pixels);
      converter(source.data(), actual.data(), pixels);
      ASSERT_EQ(actual, expected) << name << ", pixels " << pixels;
    }
  }
}

}  // namespace
}  // namespace quillon
