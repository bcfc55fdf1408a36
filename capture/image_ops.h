// Picture arithmetic of the capture engine. Every picture is 24-bit blue-green-red, rows bottom-up
// (row 0 is the bottom line), rows Width * 3 bytes apart. Views own nothing.
#pragma once

#include <cstdint>

namespace quillon {

struct ImageView {
  uint8_t* Data;  // first byte of row 0; may be null when the view only carries a size
  int32_t Stride;
  int32_t Width;
  int32_t Height;
};

ImageView MakeImageView(uint8_t* data, int32_t width, int32_t height);  // Stride = width * 3

// The 3 bytes of the pixel at (x, y), x and y clamped into the picture.
const uint8_t* PixelClamped(const ImageView& view, int32_t x, int32_t y);

// Blends the pixel pairs (p00, p01) of one row and (p10, p11) of the next with the 8-bit
// fractions u (horizontal) and v (vertical) into destination.
void BilinearMix(const uint8_t* p00, const uint8_t* p01, const uint8_t* p10, const uint8_t* p11,
                 uint32_t u, uint32_t v, uint8_t* destination);

// The operations below do nothing with a view that has no data (where they read or write it) or
// a width or height outside 1..32767. They keep no state between calls except their reusable
// work areas (per thread, and the reduction's work buffer), so after the first calls with given
// sizes they allocate nothing.

// Resamples the whole source into the whole destination (16.16 fixed point, 8-bit fractions).
void ScaleBilinear(const ImageView& destination, const ImageView& source);

// Reduces the source into the destination through halving steps; the source's bytes are used
// as work space (from the second halving step on they are overwritten). The first step writes
// (or, where the steps are done at once, only reserves) a process-wide work buffer that grows when
// a larger source comes and is never freed; it is meant for the frame tick's thread alone: do not
// call this from two threads at once.
void ScaleDownHalving(const ImageView& destination, const ImageView& source);

// Draws the whole source, scaled to size.Width x size.Height by nearest neighbour, into the
// destination at (x, y). size.Data is not used. A picture that would reach past the right or top
// edge is first pulled back to touch it; whatever still lies outside the destination (negative
// positions, a picture larger than the destination) is left out.
void PasteScaledNearest(const ImageView& destination, int32_t x, int32_t y, const ImageView& size,
                        const ImageView& source);

// Copies the whole source unscaled into the destination at (x, y), pulled back and clipped like
// PasteScaledNearest.
void PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source);

}  // namespace quillon
