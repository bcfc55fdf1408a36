// Row conversion from the 32-bit pixels that screens deliver (blue, green, red, unused) to the
// engine's 24-bit pixels (blue, green, red). A plain version beside each fast one; all give the
// same bytes.
#pragma once

#include <cstdint>

namespace quillon {

// Converts pixels BGRX pixels at source to BGR at destination. The areas must not overlap.
void ConvertBgrxToBgr(const uint8_t* source, uint8_t* destination, int32_t pixels);

// The same for red-green-blue-x pixels (screens that deliver them are rare: one plain version).
void ConvertRgbxToBgr(const uint8_t* source, uint8_t* destination, int32_t pixels);

// Places a screen picture of 32-bit pixels (grabWidth x grabHeight, rows top-down `stride` bytes
// apart, red first when redFirst) at the top left of a 24-bit picture of width x height whose
// first row is the bottom line; whatever it does not cover is black. The grab must fit.
void PlaceScreenPicture(const uint8_t* pixels, int32_t stride, int32_t grabWidth,
                        int32_t grabHeight, bool redFirst, uint8_t* buffer, int32_t width,
                        int32_t height);

void ConvertBgrxToBgrPlain(const uint8_t* source, uint8_t* destination, int32_t pixels);
#if defined(__x86_64__) || defined(__i386__)
void ConvertBgrxToBgrSsse3(const uint8_t* source, uint8_t* destination, int32_t pixels);
void ConvertBgrxToBgrAvx2(const uint8_t* source, uint8_t* destination, int32_t pixels);
bool CpuHasSsse3();
bool CpuHasAvx2();
#endif

}  // namespace quillon
