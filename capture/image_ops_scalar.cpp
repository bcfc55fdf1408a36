// The rows of the bilinear resampler one value at a time: the whole work where the processor has
// no vector instruction set we use, and the columns at the edges of a row elsewhere.
#include <algorithm>
#include <cstring>

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

bool HalveRowInBlocks(const BilinearTables& t, const uint8_t* row0, const uint8_t* row1, int32_t v,
                      uint8_t* out, int32_t count, const HalvingBlocks& blocks) {
  // 256 T (v = 0) is taken as 128 T + 128 T, whose weights fit.
  if (v == 0) {
    row1 = row0;
    v = 128;
  }
  // The largest weight is the largest of u and 256 - u times that of v and 256 - v, and u grows
  // along the row.
  const int32_t width = count / 3;
  const uint32_t first_u = t.fraction[0];
  const uint32_t last_u = t.fraction[size_t(width) - 1];
  const uint32_t column_reach = std::max({first_u, 256 - first_u, last_u, 256 - last_u});
  if (column_reach * std::max<uint32_t>(v, 256 - v) > 32767) return false;
  const int32_t row_bytes = 2 * count;
  // Whether the block from destination byte `first` on (a whole pixel) reads and writes inside
  // the rows and has one fraction.
  const auto inside = [&](int32_t first) {
    return first >= 0 && 2 * first + blocks.read_first >= 0 &&
           2 * first + blocks.read_end <= row_bytes && first + kHalvingBlock <= count &&
           t.fraction[size_t(first / 3)] == t.fraction[size_t(first / 3) + kHalvingBlock / 3 - 1];
  };
  const auto weights = [&](int32_t first, int32_t* top, int32_t* bottom) {
    const uint32_t u = t.fraction[size_t(first / 3)];
    *top = static_cast<int32_t>(((u * (256 - v)) << 16) | ((256 - u) * (256 - v)));
    *bottom = static_cast<int32_t>(((u * v) << 16) | ((256 - u) * v));
    return u;
  };
  // A block that would read before the rows starts a few pixels later instead, and one that
  // would read or write past them ends a few pixels earlier (overlapping its neighbour: the same
  // bytes); the pixels that leaves out are taken one by one.
  const auto shifted = [&](int32_t first, int32_t from, int32_t to) {
    int32_t top = 0;
    int32_t bottom = 0;
    weights(first, &top, &bottom);
    blocks.blocks(row0 + 2 * first, row1 + 2 * first, top, bottom, out + first, 1);
    BlendPixelsScalar(t, row0, row1, v, out, from, to);
  };
  const int32_t late = (-blocks.read_first + 5) / 6 * 3;
  const int32_t early = std::min(count - kHalvingBlock, (row_bytes - blocks.read_end) / 2) / 3 * 3;
  for (int32_t first = 0; first < count;) {
    int32_t top = 0;
    int32_t bottom = 0;
    const uint32_t u = weights(first, &top, &bottom);
    const int32_t source = 2 * first;
    if (inside(first)) {
      // This block and those after it inside the rows with the same fraction.
      int32_t n = 1;
      while (inside(first + n * kHalvingBlock) &&
             t.fraction[size_t((first + n * kHalvingBlock) / 3)] == u) {
        ++n;
      }
      blocks.blocks(row0 + source, row1 + source, top, bottom, out + first, n);
      first += n * kHalvingBlock;
      continue;
    }
    if (first == 0 && inside(late)) {
      shifted(late, 0, late / 3);
      first += kHalvingBlock;
      continue;
    }
    if (first > 0 && early < first && inside(early)) {
      shifted(early, early / 3 + kHalvingBlock / 3, count / 3);
      break;
    }
    // Else on copies, the bytes outside the rows zero.
    constexpr int32_t kFront = 8;
    alignas(32) uint8_t a[256] = {};
    alignas(32) uint8_t b[256] = {};
    alignas(32) uint8_t o[kHalvingBlock];
    const int32_t from = std::max(blocks.read_first, -source);
    const int32_t to = std::min(blocks.read_end, row_bytes - source);
    std::memcpy(a + kFront + from, row0 + source + from, size_t(to - from));
    std::memcpy(b + kFront + from, row1 + source + from, size_t(to - from));
    blocks.blocks(a + kFront, b + kFront, top, bottom, o, 1);
    std::memcpy(out + first, o, size_t(std::min(kHalvingBlock, count - first)));
    first += kHalvingBlock;
  }
  return true;
}

}  // namespace quillon::image_ops_internal
