#include "capture/image_ops_reference.h"

#include <cstring>
#include <vector>

#include "capture/image_ops_internal.h"

namespace quillon::reference {

using namespace image_ops_internal;

void ScaleBilinear(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  const BilinearAxis xa = MakeBilinearAxis(source.Width, destination.Width);
  const BilinearAxis ya = MakeBilinearAxis(source.Height, destination.Height);
  // 64-bit accumulators: the values are those of the 32-bit sums, without the overflow of the
  // one step added past the last pixel.
  int64_t sy = ya.start;
  for (int32_t j = 0; j < destination.Height; ++j, sy += ya.step) {
    const auto y = static_cast<int32_t>(sy >> 16);
    const auto v = static_cast<uint32_t>((sy & 0xFFFF) >> 8);
    uint8_t* out = destination.Data + int64_t{j} * destination.Stride;
    int64_t sx = xa.start;
    for (int32_t i = 0; i < destination.Width; ++i, sx += xa.step) {
      const auto x = static_cast<int32_t>(sx >> 16);
      const auto u = static_cast<uint32_t>((sx & 0xFFFF) >> 8);
      BilinearMix(PixelClamped(source, x, y), PixelClamped(source, x + 1, y),
                  PixelClamped(source, x, y + 1), PixelClamped(source, x + 1, y + 1), u, v,
                  out + i * 3);
    }
  }
}

void ScaleDownHalving(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  std::vector<uint8_t> work(HalvingWorkBytes(destination, source));
  HalveThenScale(destination, source, work.data(), &ScaleBilinear);
}

void PasteScaledNearest(const ImageView& destination, int32_t x, int32_t y, const ImageView& size,
                        const ImageView& source) {
  if (!HasPixels(destination) || !HasSize(size) || !HasPixels(source)) return;
  x = PullBack(x, size.Width, destination.Width);
  y = PullBack(y, size.Height, destination.Height);
  const uint32_t xr = NearestStep(source.Width, size.Width);
  const uint32_t yr = NearestStep(source.Height, size.Height);
  for (int32_t i = 0; i < size.Height; ++i) {
    if (y + i < 0 || y + i >= destination.Height) continue;
    for (int32_t j = 0; j < size.Width; ++j) {
      if (x + j < 0 || x + j >= destination.Width) continue;
      const uint8_t* from = PixelClamped(source, NearestIndex(xr, j, source.Width),
                                         NearestIndex(yr, i, source.Height));
      std::memcpy(destination.Data + int64_t{y + i} * destination.Stride + int64_t{x + j} * 3, from,
                  3);
    }
  }
}

void PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  x = PullBack(x, source.Width, destination.Width);
  y = PullBack(y, source.Height, destination.Height);
  for (int32_t r = 0; r < source.Height; ++r) {
    for (int32_t c = 0; c < source.Width; ++c) {
      if (y + r < 0 || y + r >= destination.Height || x + c < 0 || x + c >= destination.Width) {
        continue;
      }
      std::memcpy(destination.Data + int64_t{y + r} * destination.Stride + int64_t{x + c} * 3,
                  source.Data + int64_t{r} * source.Stride + int64_t{c} * 3, 3);
    }
  }
}

}  // namespace quillon::reference
