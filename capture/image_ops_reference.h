// Plain versions of the picture operations that follow the arithmetic step by step, every pixel
// fetched through PixelClamped. They are slow and exist so that the fast versions in
// image_ops.cpp can be checked against them byte for byte. Clipping, clamping of the nearest
// source index and the guards against empty or oversized views are the same as in the fast
// versions.
#pragma once

#include "capture/image_ops.h"

namespace quillon::reference {

void ScaleBilinear(const ImageView& destination, const ImageView& source);

// Same halving steps as quillon::ScaleDownHalving, with its own work buffer (allocated per call).
void ScaleDownHalving(const ImageView& destination, const ImageView& source);

void PasteScaledNearest(const ImageView& destination, int32_t x, int32_t y, const ImageView& size,
                        const ImageView& source);

void PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source);

}  // namespace quillon::reference
