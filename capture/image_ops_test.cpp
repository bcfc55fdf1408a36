#include "capture/image_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "capture/image_ops_internal.h"
#include "capture/image_ops_reference.h"

namespace quillon {
namespace {

using image_ops_internal::SimdLevel;

// A picture in a heap block of exactly its size, so that AddressSanitizer catches any access
// past its ends. A copy has bytes and a view of its own.
struct Picture {
  Picture(int32_t width, int32_t height)
      : bytes(size_t(width) * size_t(height) * 3),
        view(MakeImageView(bytes.data(), width, height)) {}
  Picture(const Picture& other)
      : bytes(other.bytes),
        view(MakeImageView(bytes.data(), other.view.Width, other.view.Height)) {}
  Picture& operator=(const Picture&) = delete;
  std::vector<uint8_t> bytes;
  ImageView view;
};

Picture RandomPicture(std::mt19937& random, int32_t width, int32_t height) {
  Picture picture(width, height);
  for (auto& b : picture.bytes) b = static_cast<uint8_t>(random());
  return picture;
}

// The source resampled to width x height by the plain version.
Picture ReferenceScaled(const Picture& source, int32_t width, int32_t height) {
  Picture scaled(width, height);
  reference::ScaleBilinear(scaled.view, source.view);
  return scaled;
}

// Runs `body` once with every instruction set this processor has, the best one last.
template <class Body>
void ForEachSimdLevel(Body body) {
  for (int n = 0; n < image_ops_internal::kSimdLevels; ++n) {
    const auto level = static_cast<SimdLevel>(n);
    if (image_ops_internal::SetSimdLevel(level) != level) continue;
    SCOPED_TRACE("instruction set " + std::to_string(static_cast<int>(level)));
    body();
  }
  image_ops_internal::SetSimdLevel(image_ops_internal::BestSimdLevel());
}

// The fast and the plain version of one operation on a destination and a source.
using Operation = std::function<void(const ImageView&, const ImageView&)>;
struct Sizes {
  int32_t sw, sh, dw, dh;  // source, destination
};

// Runs both versions on copies of the same random source and destination: the destinations must
// come out the same, and so must the sources, which the reduction uses as work space from its
// second halving step on (with one step, the plain version leaves its source as it was).
void ExpectSameAsReference(std::mt19937& random, const Sizes& z, const Operation& fast,
                           const Operation& plain) {
  Picture fast_source = RandomPicture(random, z.sw, z.sh);
  Picture plain_source = fast_source;
  Picture fast_destination = RandomPicture(random, z.dw, z.dh);
  Picture plain_destination = fast_destination;
  fast(fast_destination.view, fast_source.view);
  plain(plain_destination.view, plain_source.view);
  const std::string sizes = std::to_string(z.sw) + "x" + std::to_string(z.sh) + " -> " +
                            std::to_string(z.dw) + "x" + std::to_string(z.dh);
  ASSERT_EQ(fast_destination.bytes, plain_destination.bytes) << sizes;
  ASSERT_EQ(fast_source.bytes, plain_source.bytes) << sizes;
}

TEST(ScaleBilinear, MatchesReferenceOnRandomSizesAndContents) {
  const uint32_t seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  ForEachSimdLevel([&] {
    // Long rows, one pixel wide or high, exact halvings of even and odd sizes (a 1366-pixel
    // screen too), random sizes. 2000 -> 1000 wide (u up to 131) blends some rows with v = 5,
    // whose weight 131 * 251 does not fit 16 bits: the halving rows of SSSE3 and AVX2 leave
    // those rows to the group rows.
    std::vector<Sizes> cases = {{1, 50, 37, 200},   {50, 1, 400, 3},   {1, 1, 17, 9},
                                {1000, 5, 333, 2},  {5, 1000, 1, 999}, {1366, 40, 683, 20},
                                {2000, 6, 1000, 23}};
    for (int32_t d : {1, 2, 3, 7, 8, 31, 64, 129, 300}) {
      cases.insert(cases.end(), {{2 * d, 2 * d + 1, d, d}, {2 * d + 1, 2 * d, d, d}});
    }
    std::uniform_int_distribution<int32_t> side(1, 90);
    for (int n = 0; n < 300; ++n)
      cases.push_back({side(random), side(random), side(random), side(random)});
    for (const Sizes& z : cases)
      ExpectSameAsReference(random, z, ScaleBilinear, reference::ScaleBilinear);
  });
}

// Every row alike, so each destination byte is (P(x) (256 - u) + P(x + 1) u) >> 8.
Picture RowsAlike(int32_t width, int32_t height) {
  Picture picture(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width * 3; ++x) {
      picture.bytes[size_t(y) * size_t(width) * 3 + size_t(x)] = static_cast<uint8_t>(x * 7 + 3);
    }
  }
  return picture;
}

// Halving blends column pairs with a growing fraction; enlarging repeats the first column and row
// at the edge.
TEST(ScaleBilinear, HalvingBlendsColumnPairsAndEnlargingRepeatsTheEdge) {
  std::mt19937 random(7);
  ForEachSimdLevel([&] {
    const Picture source = RowsAlike(1280, 720);
    Picture destination(640, 360);
    ScaleBilinear(destination.view, source.view);
    for (int32_t i = 0; i < 640; ++i) {
      const uint32_t u = 128 + i / 256;
      for (int32_t c = 0; c < 3; ++c) {
        const uint32_t left = source.bytes[size_t(2 * i) * 3 + c];
        const uint32_t right = source.bytes[size_t(2 * i + 1) * 3 + c];
        ASSERT_EQ(destination.bytes[size_t(359) * 640 * 3 + size_t(i) * 3 + c],
                  (left * (256 - u) + right * u) >> 8)
            << "column " << i;
      }
    }
    EXPECT_EQ(destination.bytes, ReferenceScaled(source, 640, 360).bytes);

    const Picture small = RandomPicture(random, 160, 120);
    Picture large(640, 480);
    ScaleBilinear(large.view, small.view);
    // The first two columns and rows sample before the first source pixel: all clamped to it.
    for (int32_t k = 0; k < 2; ++k) {
      EXPECT_EQ(0, std::memcmp(large.view.Data + k * 3, small.view.Data, 3));
      EXPECT_EQ(0, std::memcmp(large.view.Data + k * large.view.Stride, small.view.Data, 3));
    }
    EXPECT_EQ(large.bytes, ReferenceScaled(small, 640, 480).bytes);
  });
}

TEST(ImageOps, EmptyViewsAndFarPositionsLeaveTheDestinationAlone) {
  Picture destination(4, 4);
  std::mt19937 random(1);
  Picture source = RandomPicture(random, 8, 8);
  const ImageView no_width = MakeImageView(source.view.Data, 0, 8);
  const ImageView negative = MakeImageView(source.view.Data, 8, -2);
  ScaleBilinear(MakeImageView(destination.bytes.data(), 0, 4), source.view);
  ScaleBilinear(destination.view, negative);
  ScaleBilinear(destination.view, MakeImageView(nullptr, 8, 8));
  ScaleDownHalving(destination.view, no_width);
  PasteScaledNearest(destination.view, 0, 0, MakeImageView(nullptr, 0, 3), source.view);
  PasteScaledNearest(destination.view, 0, 0, MakeImageView(nullptr, 3, 3), negative);
  PasteImage(destination.view, 0, 0, negative);
  PasteImage(destination.view, 0, 0, no_width);
  // Positions as far left or below as they go: nothing overlaps, nothing overflows.
  const int32_t far = std::numeric_limits<int32_t>::min();
  PasteImage(destination.view, far, 0, source.view);
  PasteScaledNearest(destination.view, 0, far, MakeImageView(nullptr, 3, 3), source.view);
  EXPECT_EQ(destination.bytes, std::vector<uint8_t>(destination.bytes.size(), 0));
  // As far right and up as they go: pulled back to the corner.
  PasteImage(destination.view, std::numeric_limits<int32_t>::max(),
             std::numeric_limits<int32_t>::max(), MakeImageView(source.view.Data, 2, 2));
  EXPECT_EQ(0, std::memcmp(destination.view.Data + 3 * destination.view.Stride + 3 * 3,
                           source.view.Data + 1 * 2 * 3 + 3, 3));
}

// Halves twice, then resamples, overwriting the source; the same as the plain version on many
// sizes, with a work buffer that grows for a larger desktop in a later class.
TEST(ScaleDownHalving, HalvesThenResamplesAsThePlainVersionAndGrowsItsWorkBuffer) {
  std::mt19937 random(3);
  ForEachSimdLevel([&] {
    Picture source = RandomPicture(random, 1280, 720);
    // What the steps must give: 640x360, 320x180 (written over the source), then 160x120.
    const Picture quarter = ReferenceScaled(ReferenceScaled(source, 640, 360), 320, 180);
    const Picture expected = ReferenceScaled(quarter, 160, 120);

    Picture destination(160, 120);
    ScaleDownHalving(destination.view, source.view);
    EXPECT_EQ(destination.bytes, expected.bytes);
    EXPECT_TRUE(std::equal(quarter.bytes.begin(), quarter.bytes.end(), source.bytes.begin()));
  });
  auto check = [&](const Sizes& z) {
    ExpectSameAsReference(random, z, ScaleDownHalving, reference::ScaleDownHalving);
  };
  check({64, 48, 10, 10});
  const size_t small = image_ops_internal::ScratchBufferBytes();
  check({1920, 1080, 160, 90});  // a larger desktop in a later class
  EXPECT_GT(image_ops_internal::ScratchBufferBytes(), small);
  EXPECT_GE(image_ops_internal::ScratchBufferBytes(), size_t(960) * 540 * 3);
  ForEachSimdLevel([&] {
    // Less than twice (no halving step), several steps, one pixel wide; then one step and a last
    // that halves the width again (the desktop at a quarter), which the fast path does at once.
    // clang-format off
    for (const Sizes& z : std::vector<Sizes>{
             {100, 80, 60, 50}, {333, 201, 7, 5}, {1, 500, 1, 3}, {1920, 1080, 480, 270},
             {1280, 720, 320, 180}, {1366, 768, 341, 192}, {1000, 601, 250, 150},
             {4000, 30, 1000, 7}, {32764, 5, 8191, 1}, {62, 40, 15, 10}, {8, 9, 2, 2}}) check(z);
    // clang-format on
  });
}

// A reduction's second step must not refill the tables its first step still reads, even when the
// first step's set, found again, is the next one due to be refilled.
TEST(ScaleDownHalving, TheSecondStepNeverTakesTheFirstStepsTables) {
  using image_ops_internal::BilinearTables;
  std::vector<BilinearTables*> touched;
  auto take = [&](int32_t sw, int32_t w, const BilinearTables* inUse) -> BilinearTables& {
    BilinearTables& t = image_ops_internal::ThreadTables(sw, w, SimdLevel::kScalar, inUse);
    t.made_source_width = sw;  // as preparing the columns would
    t.made_width = w;
    t.made_level = SimdLevel::kScalar;
    touched.push_back(&t);
    return t;
  };
  for (int32_t round = 0; round < 4; ++round) {
    const int32_t width = 7001 + 16 * round;  // sizes no other test uses
    take(width, 13, nullptr);
    for (int32_t other = 1; other < 4; ++other) take(width + other, 13, nullptr);
    BilinearTables& first = take(width, 13, nullptr);
    EXPECT_NE(&take(width + 8, 5, &first), &first) << "round " << round;
  }
  for (BilinearTables* t : touched) t->made_source_width = 0;  // no later call may trust these
}

TEST(ImageOps, PastesPullBackToTheRightEdgeAndTheNearestClampsATinySource) {
  std::mt19937 random(5);
  // A 32-pixel-wide source drawn 1920 wide would step past its last column.
  const Picture tiny = RandomPicture(random, 32, 2);
  Picture wide(1920, 2);
  PasteScaledNearest(wide.view, 0, 0, MakeImageView(nullptr, 1920, 2), tiny.view);
  EXPECT_EQ(0, std::memcmp(wide.view.Data + 1919 * 3, tiny.view.Data + 31 * 3, 3));

  const Picture frame = RandomPicture(random, 64, 36);
  Picture screen(1280, 720);
  const ImageView size = MakeImageView(nullptr, 320, 180);
  PasteScaledNearest(screen.view, 1000, 2000, size, frame.view);
  Picture expected(1280, 720);
  reference::PasteScaledNearest(expected.view, 960, 540, size, frame.view);
  EXPECT_EQ(screen.bytes, expected.bytes);
  EXPECT_EQ(0, std::memcmp(screen.view.Data + 539 * screen.view.Stride + 959 * 3, "\0\0\0", 3));
  EXPECT_NE(0, std::memcmp(screen.view.Data + 540 * screen.view.Stride + 960 * 3, "\0\0\0", 3));

  // PasteImage copies rows and pulls back oversized positions too.
  const Picture thumbnail = RandomPicture(random, 160, 120);
  Picture camera(640, 480);
  PasteImage(camera.view, 600, 470, thumbnail.view);  // pulled back to 480, 360
  for (int32_t r = 0; r < 120; ++r) {
    ASSERT_EQ(0, std::memcmp(camera.view.Data + (360 + r) * camera.view.Stride + 480 * 3,
                             thumbnail.view.Data + r * thumbnail.view.Stride, 160 * 3));
  }
  // Larger than the destination on both sides: only the overlapping part, nothing outside.
  const Picture huge = RandomPicture(random, 700, 500);
  PasteImage(camera.view, 0, 0, huge.view);
  EXPECT_EQ(0, std::memcmp(camera.view.Data, huge.view.Data + 20 * huge.view.Stride + 60 * 3, 3));
}

}  // namespace
}  // namespace quillon
