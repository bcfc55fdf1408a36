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

void ConvertBgrxToBgrPlain(const uint8_t* source, uint8_t* destination, int32_t pixels);
#if defined(__x86_64__) || defined(__i386__)
void ConvertBgrxToBgrSsse3(const uint8_t* source, uint8_t* destination, int32_t pixels);
void ConvertBgrxToBgrAvx2(const uint8_t* source, uint8_t* destination, int32_t pixels);
bool CpuHasSsse3();
bool CpuHasAvx2();
#endif

}  // namespace quillon
