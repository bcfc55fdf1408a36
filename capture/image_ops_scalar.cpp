// The rows of the bilinear resampler one value at a time: the whole work where the processor has
// no vector instruction set we use, and the columns at the edges of a row elsewhere.
#include "capture/image_ops_internal.h"

namespace quillon::image_ops_internal {

namespace {

// Horizontal pass of one byte: h - 32768.
inline int16_t RowBlend(uint32_t p0, uint32_t p1, uint32_t u) {
  return static_cast<int16_t>(static_cast<int32_t>(p0 * (256 - u) + p1 * u) - 32768);
}

// Vertical pass of one byte from two blended rows.
inline uint8_t ColumnBlend(int16_t h0, int16_t h1, int32_t v) {
  return static_cast<uint8_t>((h0 * (256 - v) + h1 * v + (32768 << 8)) >> 16);
}

}  // namespace

void BlendColumnsScalar(const BilinearTables& t, const uint8_t* row, int16_t* out, int32_t first,
                        int32_t last) {
  for (int32_t i = first; i < last; ++i) {
    const uint8_t* a = row + t.left[i];
    const uint8_t* b = row + t.right[i];
    const uint32_t u = t.fraction[i];
    out[i * 3 + 0] = RowBlend(a[0], b[0], u);
    out[i * 3 + 1] = RowBlend(a[1], b[1], u);
    out[i * 3 + 2] = RowBlend(a[2], b[2], u);
  }
}

void BlendVectorColumnsScalar(const BilinearTables& t, const uint8_t* row, int16_t* out) {
  BlendColumnsScalar(t, row, out, t.vector_first, t.vector_last);
}

void BlendPixelsScalar(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                       uint8_t* out, int32_t first, int32_t last) {
  for (int32_t i = first; i < last; ++i) {
    const uint32_t u = t.fraction[i];
    for (int c = 0; c < 3; ++c) {
      out[i * 3 + c] = ColumnBlend(RowBlend(row0[t.left[i] + c], row0[t.right[i] + c], u),
                                   RowBlend(row1[t.left[i] + c], row1[t.right[i] + c], u), v);
    }
  }
}

void BlendRowsScalar(const int16_t* h0, const int16_t* h1, int32_t v, uint8_t* out, int32_t count) {
  for (int32_t k = 0; k < count; ++k) out[k] = ColumnBlend(h0[k], h1[k], v);
}

}  // namespace quillon::image_ops_internal
