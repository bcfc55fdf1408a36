// Fast picture operations. They walk the pictures, keep per-call tables and call the rows of the
// instruction set chosen at start; image_ops_internal.h tells the arithmetic of the rows and
// which file holds which. Every result is byte for byte the one that the plain versions in
// image_ops_reference.cpp compute.
//
// Source rows blended horizontally are kept for the next destination row, which spares half the
// horizontal work when enlarging. Reductions to half size or less (every halving step) read two
// fresh source rows for every destination row; where the rows can, they run both passes at once,
// one destination row at a time: a source exactly twice as wide with the halving row where there
// is one, else in groups of 7 destination bytes with an in-lane byte shuffle. ScaleDownHalving
// with one halving step and a last step that such rows serve runs both steps at once on rows that
// stay in the first-level cache.
#include "capture/image_ops.h"

#include <array>
#include <cstring>
#include <vector>

#include "capture/image_ops_internal.h"

namespace quillon {

using namespace image_ops_internal;

ImageView MakeImageView(uint8_t* data, int32_t width, int32_t height) {
  return ImageView{data, width * 3, width, height};
}

const uint8_t* PixelClamped(const ImageView& view, int32_t x, int32_t y) {
  x = std::clamp(x, 0, view.Width - 1);
  y = std::clamp(y, 0, view.Height - 1);
  return view.Data + int64_t{y} * view.Stride + int64_t{x} * 3;
}

void BilinearMix(const uint8_t* p00, const uint8_t* p01, const uint8_t* p10, const uint8_t* p11,
                 uint32_t u, uint32_t v, uint8_t* destination) {
  const uint32_t w11 = u * v;
  const uint32_t w01 = u * 256 - w11;
  const uint32_t w10 = v * 256 - w11;
  const uint32_t w00 = 65536 - w10 - w01 - w11;
  for (int c = 0; c < 3; ++c) {
    destination[c] =
        static_cast<uint8_t>((p00[c] * w00 + p01[c] * w01 + p10[c] * w10 + p11[c] * w11) >> 16);
  }
}

namespace image_ops_internal {

BilinearTables& ThreadTables(int32_t source_width, int32_t width, SimdLevel level,
                             const BilinearTables* inUse) {
  thread_local std::array<BilinearTables, 4> sets;
  thread_local size_t oldest = 0;
  for (BilinearTables& t : sets) {
    if (t.made_source_width == source_width && t.made_width == width && t.made_level == level) {
      return t;
    }
  }
  if (&sets[oldest] == inUse) oldest = (oldest + 1) % sets.size();
  BilinearTables& t = sets[oldest];
  oldest = (oldest + 1) % sets.size();
  return t;
}

}  // namespace image_ops_internal

namespace {

// One sample position along an axis: clamped pixel indices and the 8-bit fraction.
struct Sample {
  int32_t first;
  int32_t second;
  uint32_t fraction;
};

Sample SampleAt(const BilinearAxis& axis, int32_t k, int32_t size) {
  const int64_t s = axis.start + int64_t{k} * axis.step;
  const auto p = static_cast<int32_t>(s >> 16);
  return {std::clamp(p, 0, size - 1), std::clamp(p + 1, 0, size - 1),
          static_cast<uint32_t>((s & 0xFFFF) >> 8)};
}

// The groups of 7 destination bytes of the rows with the in-lane byte shuffle (see
// BilinearTables::group_offset), in the order the rows of `lanes` take them.
void PrepareGroups(BilinearTables& t, int32_t source_width, int32_t width, LaneLayout lanes) {
  constexpr int32_t kGroup = 7;
  const int32_t count = width * 3;
  const int32_t row_bytes = source_width * 3;
  const auto groups = size_t((count + kGroup - 1) / kGroup);
  t.group_offset.assign(groups, 0);
  t.group_shuffle.assign(groups * 16, 0x80);
  t.group_weights.assign(groups * 16, 0);
  t.group_fixes.clear();
  size_t apart = 0;  // groups whose bytes lie too far apart
  for (size_t g = 0; g < groups && row_bytes >= 16; ++g) {
    const int32_t first = int32_t(g) * kGroup;
    const int32_t last = std::min(first + kGroup, count);
    int32_t low = row_bytes;
    int32_t high = 0;
    for (int32_t k = first; k < last; ++k) {
      low = std::min(low, t.left[k / 3] + k % 3);
      high = std::max(high, t.right[k / 3] + k % 3);
    }
    const int32_t offset = std::min(low, row_bytes - 16);
    if (high - offset >= 16) {
      ++apart;
      t.group_fixes.push_back({first / 3, (last - 1) / 3 + 1});
      continue;
    }
    t.group_offset[g] = offset;
    for (int32_t k = first; k < last; ++k) {
      const int32_t i = k / 3;
      const uint32_t u = t.fraction[i];
      uint8_t* pick = &t.group_shuffle[g * 16 + size_t(k - first) * 2];
      uint8_t* weight = &t.group_weights[g * 16 + size_t(k - first) * 2];
      pick[0] = static_cast<uint8_t>(t.left[i] + k % 3 - offset);
      pick[1] = static_cast<uint8_t>((u == 0 ? t.left[i] : t.right[i]) + k % 3 - offset);
      weight[0] = static_cast<uint8_t>(u == 0 ? 128 : 256 - u);
      weight[1] = static_cast<uint8_t>(u == 0 ? 128 : u);
    }
  }
  t.groups_serve = row_bytes >= 16 && count >= 32 && apart * 16 <= groups;
  if (lanes == LaneLayout::kTwoColumnsPerEight) {
    // The AVX2 rows take 4 groups at once, g and g + 2 in one register, g + 1 and g + 3 in the
    // other, so that their results land in order within each 128-bit half.
    for (size_t g = 0; g + 4 <= groups; g += 4) {
      std::swap(t.group_offset[g + 1], t.group_offset[g + 2]);
      std::swap_ranges(&t.group_shuffle[(g + 1) * 16], &t.group_shuffle[(g + 2) * 16],
                       &t.group_shuffle[(g + 2) * 16]);
      std::swap_ranges(&t.group_weights[(g + 1) * 16], &t.group_weights[(g + 2) * 16],
                       &t.group_weights[(g + 2) * 16]);
    }
  }
}

// The column tables of `t` for these sizes, laid out as the rows of `ops` want them.
void PrepareColumns(BilinearTables& t, int32_t source_width, int32_t width,
                    const RowFunctions& ops) {
  if (t.made_source_width == source_width && t.made_width == width && t.made_level == ops.level) {
    return;
  }
  t.made_source_width = source_width;
  t.made_width = width;
  t.made_level = ops.level;
  const BilinearAxis axis = MakeBilinearAxis(source_width, width);
  t.left.resize(width);
  t.right.resize(width);
  t.fraction.resize(width);
  t.window.resize(width);
  t.vector_first = width;
  t.vector_last = width;
  for (int32_t i = 0; i < width; ++i) {
    const Sample s = SampleAt(axis, i, source_width);
    t.left[i] = s.first * 3;
    t.right[i] = s.second * 3;
    t.fraction[i] = static_cast<uint16_t>(s.fraction);
    t.window[i] = s.first * 3 - 2;
    const bool inside = s.second == s.first + 1 && s.first >= 1;
    if (inside && t.vector_first == width) t.vector_first = i;
    if (inside) t.vector_last = i + 1;
  }
  t.halving_columns = source_width == 2 * width;
  for (int32_t i = 0; i < width && t.halving_columns; ++i) {
    t.halving_columns = t.left[i] == 6 * i && t.right[i] == 6 * i + 3 && t.fraction[i] >= 1;
  }
  if (t.halving_columns && ops.level == SimdLevel::kAvx512) {
    // Per quarter of 15 destination bytes, 16 pairs of 16-bit weights (256 - u, u), the last
    // unused; per block of 60 bytes, 4 quarters.
    const size_t count = size_t(width) * 3;
    const size_t blocks = (count + 59) / 60;
    t.halving_weights.assign(blocks * 256, 0);
    for (size_t k = 0; k < count; ++k) {
      const uint16_t u = t.fraction[k / 3];
      uint8_t* pair = &t.halving_weights[(k / 15) * 64 + (k % 15) * 4];
      pair[0] = static_cast<uint8_t>(256 - u);
      pair[2] = static_cast<uint8_t>(u);
    }
    // Per block of 20 pixels, (u << 16) | (256 - u) where all its pixels have the same u.
    t.halving_uniform.assign(blocks, 0);
    for (size_t b = 0; b < blocks; ++b) {
      const size_t first_pixel = b * 20;
      const size_t end = std::min<size_t>(first_pixel + 20, size_t(width));
      const uint16_t u = t.fraction[first_pixel];
      if (std::all_of(&t.fraction[first_pixel], &t.fraction[0] + end,
                      [u](uint16_t f) { return f == u; })) {
        t.halving_uniform[b] = (uint32_t{u} << 16) | (256u - u);
      }
    }
  }
  if (ops.reduce_row != nullptr) PrepareGroups(t, source_width, width, ops.lanes);
  t.pairs_last = t.vector_first;
  while (t.pairs_last + 4 <= t.vector_last && t.window[t.pairs_last] + 28 <= source_width * 3 &&
         t.window[t.pairs_last + 3] == t.window[t.pairs_last] + 18 &&
         t.window[t.pairs_last + 1] == t.window[t.pairs_last] + 6 &&
         t.window[t.pairs_last + 2] == t.window[t.pairs_last] + 12 &&
         std::all_of(&t.fraction[t.pairs_last], &t.fraction[t.pairs_last] + 4,
                     [](uint16_t u) { return u >= 1; })) {
    t.pairs_last += 4;
  }
  t.pair_weights.assign(size_t(t.pairs_last - t.vector_first) * 8, 0);
  for (int32_t k = 0; k < t.pairs_last - t.vector_first; ++k) {
    const auto weight = static_cast<int8_t>(t.fraction[t.vector_first + k] - 128);
    for (int c = 0; c < 3; ++c) {
      int8_t* pair = &t.pair_weights[size_t(k / 2) * 16 + size_t(k % 2) * 6 + size_t(c) * 2];
      pair[0] = static_cast<int8_t>(-weight);
      pair[1] = weight;
    }
  }
  const int32_t count = t.vector_last - t.vector_first;
  t.lanes.assign(size_t(count) * 4 + 16, 0);
  for (int32_t k = 0; k < count; ++k) {
    const uint16_t u = t.fraction[t.vector_first + k];
    for (int c = 0; c < 4; ++c) {
      if (ops.lanes == LaneLayout::kTwoColumnsPerEight) {
        if (c < 3) t.lanes[size_t(k / 2) * 8 + size_t(k % 2) * 3 + c] = u;
      } else {
        t.lanes[size_t(k) * 4 + c] = u;
      }
    }
  }
}

// Horizontal pass of one source row: the vector columns with the rows of `ops`, the others one
// by one.
void BlendColumns(const RowFunctions& ops, const BilinearTables& t, const uint8_t* row,
                  int16_t* out, int32_t width) {
  BlendColumnsScalar(t, row, out, 0, t.vector_first);
  ops.blend_columns(t, row, out);
  // After the vector loops, whose last stores may spill into these columns.
  BlendColumnsScalar(t, row, out, t.vector_last, width);
}

// The blended row of source row y, computed unless one of the two kept rows holds it; the kept
// row that holds `keep` is not reused.
const int16_t* BlendedRow(const RowFunctions& ops, BilinearTables& t, const ImageView& source,
                          int32_t y, int32_t keep, int32_t width) {
  for (int s = 0; s < 2; ++s) {
    if (t.row_of[s] == y) return t.rows[s].data();
  }
  const int s = t.row_of[0] == keep ? 1 : 0;
  BlendColumns(ops, t, source.Data + int64_t{y} * source.Stride, t.rows[s].data(), width);
  t.row_of[s] = y;
  return t.rows[s].data();
}

// Process-wide work buffer of ScaleDownHalving (see there).
std::vector<uint8_t>& Scratch() {
  static std::vector<uint8_t> buffer;
  return buffer;
}

// Whether `ops` has a row that takes both passes at once for the columns of `t`.
bool BothPassesServe(const RowFunctions& ops, const BilinearTables& t) {
  return (ops.halve_row != nullptr && t.halving_columns) ||
         (ops.reduce_row != nullptr && t.groups_serve);
}

// One destination row of `width` pixels from two source rows, both passes at once
// (BothPassesServe): the halving row, or where it declines or there is none, the group row and
// then the columns it leaves, one by one (all of them if the groups do not serve).
void BothPasses(const RowFunctions& ops, const BilinearTables& t, const uint8_t* row0,
                const uint8_t* row1, int32_t v, uint8_t* out, int32_t width) {
  if (ops.halve_row != nullptr && t.halving_columns &&
      ops.halve_row(t, row0, row1, v, out, width * 3)) {
    return;
  }
  if (ops.reduce_row == nullptr || !t.groups_serve) {
    return BlendPixelsScalar(t, row0, row1, v, out, 0, width);
  }
  const int32_t done = ops.reduce_row(t, row0, row1, v, out, width * 3);
  for (const Span& fix : t.group_fixes)
    BlendPixelsScalar(t, row0, row1, v, out, fix.first, fix.last);
  BlendPixelsScalar(t, row0, row1, v, out, done / 3, width);
}

// A reduction of one halving step followed by a resampling to at most half the width again
// (1920x1080 -> 960x540 -> 480x270), both steps with rows that take both passes at once: each
// half-size row is made when the second step first needs it, into one of two rows kept per
// thread, so the half-size picture never leaves the first-level cache. `first` and `second` are
// the column tables of the two steps.
void HalveTwice(const RowFunctions& ops, const BilinearTables& first, const BilinearTables& second,
                const ImageView& destination, const ImageView& source, const ImageView& half) {
  thread_local std::vector<uint8_t> rows[2];
  int32_t row_of[2] = {-1, -1};
  for (auto& row : rows) row.resize(size_t(half.Width) * 3);
  const BilinearAxis ya1 = MakeBilinearAxis(source.Height, half.Height);
  const BilinearAxis ya2 = MakeBilinearAxis(half.Height, destination.Height);
  const auto half_row = [&](int32_t r, int32_t keep) -> const uint8_t* {
    for (int n = 0; n < 2; ++n) {
      if (row_of[n] == r) return rows[n].data();
    }
    const int n = row_of[0] == keep ? 1 : 0;
    const Sample s = SampleAt(ya1, r, source.Height);
    BothPasses(ops, first, source.Data + int64_t{s.first} * source.Stride,
               source.Data + int64_t{s.second} * source.Stride, static_cast<int32_t>(s.fraction),
               rows[n].data(), half.Width);
    row_of[n] = r;
    return rows[n].data();
  };
  for (int32_t j = 0; j < destination.Height; ++j) {
    const Sample s = SampleAt(ya2, j, half.Height);
    const uint8_t* row0 = half_row(s.first, s.second);
    const uint8_t* row1 = half_row(s.second, s.first);
    BothPasses(ops, second, row0, row1, static_cast<int32_t>(s.fraction),
               destination.Data + int64_t{j} * destination.Stride, destination.Width);
  }
}

}  // namespace

namespace image_ops_internal {

size_t ScratchBufferBytes() {
  return Scratch().size();
}

}  // namespace image_ops_internal

void ScaleBilinear(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  const RowFunctions& ops = ActiveRowFunctions();
  BilinearTables& t = ThreadTables(source.Width, destination.Width, ops.level);
  PrepareColumns(t, source.Width, destination.Width, ops);
  const int32_t count = destination.Width * 3;
  for (auto& row : t.rows) row.resize(size_t(count) + kRowSlack);
  t.row_of[0] = t.row_of[1] = -1;
  const BilinearAxis ya = MakeBilinearAxis(source.Height, destination.Height);
  // Both passes at once where no source row serves two destination rows (a reduction to half or
  // less), and always with the halving row.
  if (BothPassesServe(ops, t) && ((ops.halve_row != nullptr && t.halving_columns) ||
                                  source.Height >= 2 * destination.Height)) {
    for (int32_t j = 0; j < destination.Height; ++j) {
      const Sample s = SampleAt(ya, j, source.Height);
      BothPasses(ops, t, source.Data + int64_t{s.first} * source.Stride,
                 source.Data + int64_t{s.second} * source.Stride, static_cast<int32_t>(s.fraction),
                 destination.Data + int64_t{j} * destination.Stride, destination.Width);
    }
    return;
  }
  for (int32_t j = 0; j < destination.Height; ++j) {
    const Sample s = SampleAt(ya, j, source.Height);
    const auto v = static_cast<int32_t>(s.fraction);
    const int16_t* h0 = BlendedRow(ops, t, source, s.first, s.second, destination.Width);
    // With v = 0 the second row has no weight.
    const int16_t* h1 =
        v == 0 ? h0 : BlendedRow(ops, t, source, s.second, s.first, destination.Width);
    ops.blend_rows(h0, h1, v, destination.Data + int64_t{j} * destination.Stride, count);
  }
}

// The work buffer is process-wide and used only from the frame tick's thread, which is the only
// caller; it grows when a source needs more than it holds and is never freed, so after the
// largest source has been seen no call allocates.
void ScaleDownHalving(const ImageView& destination, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  std::vector<uint8_t>& scratch = Scratch();
  const size_t needed = HalvingWorkBytes(destination, source);
  if (scratch.size() < needed) scratch.resize(needed);
  // One halving step, then a last one whose rows take both passes at once too: both steps at
  // once, without the work buffer (same bytes; with more steps the source's bytes serve as work
  // space, so those take the steps one by one).
  const RowFunctions& ops = ActiveRowFunctions();
  const ImageView half = MakeImageView(nullptr, source.Width / 2, source.Height / 2);
  if (needed > 0 && !(half.Width / 2 > destination.Width && half.Height / 2 > destination.Height)) {
    BilinearTables& first = ThreadTables(source.Width, half.Width, ops.level);
    PrepareColumns(first, source.Width, half.Width, ops);
    BilinearTables& second = ThreadTables(half.Width, destination.Width, ops.level, &first);
    PrepareColumns(second, half.Width, destination.Width, ops);
    if (BothPassesServe(ops, first) && BothPassesServe(ops, second)) {
      return HalveTwice(ops, first, second, destination, source, half);
    }
  }
  HalveThenScale(destination, source, scratch.data(), &ScaleBilinear);
}

void PasteScaledNearest(const ImageView& destination, int32_t x, int32_t y, const ImageView& size,
                        const ImageView& source) {
  if (!HasPixels(destination) || !HasSize(size) || !HasPixels(source)) return;
  x = PullBack(x, size.Width, destination.Width);
  y = PullBack(y, size.Height, destination.Height);
  const Span cols = ClipSpan(x, size.Width, destination.Width);
  const Span rows = ClipSpan(y, size.Height, destination.Height);
  if (cols.first >= cols.last || rows.first >= rows.last) return;
  const uint32_t xr = NearestStep(source.Width, size.Width);
  const uint32_t yr = NearestStep(source.Height, size.Height);
  thread_local std::vector<int32_t> offsets;
  offsets.resize(size_t(cols.last - cols.first));
  for (int32_t j = cols.first; j < cols.last; ++j) {
    offsets[size_t(j - cols.first)] = NearestIndex(xr, j, source.Width) * 3;
  }
  const int32_t pixels = cols.last - cols.first;
  const int32_t source_row_bytes = source.Width * 3;
  int32_t previous = -1;
  const uint8_t* previous_out = nullptr;
  for (int32_t i = rows.first; i < rows.last; ++i) {
    const int32_t sy = NearestIndex(yr, i, source.Height);
    uint8_t* out =
        destination.Data + int64_t{y + i} * destination.Stride + int64_t{x + cols.first} * 3;
    if (sy == previous) {
      std::memcpy(out, previous_out, size_t(pixels) * 3);
      continue;
    }
    const uint8_t* in = source.Data + int64_t{sy} * source.Stride;
    // 4 bytes a pixel where the source allows; the 4th lands on the next pixel, written after.
    int32_t k = 0;
    for (; k + 1 < pixels && offsets[size_t(k)] + 4 <= source_row_bytes; ++k) {
      std::memcpy(out + k * 3, in + offsets[size_t(k)], 4);
    }
    for (; k < pixels; ++k) std::memcpy(out + k * 3, in + offsets[size_t(k)], 3);
    previous = sy;
    previous_out = out;
  }
}

void PasteImage(const ImageView& destination, int32_t x, int32_t y, const ImageView& source) {
  if (!HasPixels(destination) || !HasPixels(source)) return;
  x = PullBack(x, source.Width, destination.Width);
  y = PullBack(y, source.Height, destination.Height);
  const Span cols = ClipSpan(x, source.Width, destination.Width);
  const Span rows = ClipSpan(y, source.Height, destination.Height);
  if (cols.first >= cols.last) return;
  for (int32_t r = rows.first; r < rows.last; ++r) {
    std::memcpy(
        destination.Data + int64_t{y + r} * destination.Stride + int64_t{x + cols.first} * 3,
        source.Data + int64_t{r} * source.Stride + int64_t{cols.first} * 3,
        size_t(cols.last - cols.first) * 3);
  }
}

}  // namespace quillon
