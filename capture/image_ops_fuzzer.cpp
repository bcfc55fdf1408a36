// Feeds arbitrary sizes, positions, contents and instruction sets to the picture operations and
// checks the fast versions against the plain ones byte for byte. Pictures sit in heap blocks of
// exactly their size, so the sanitizer catches any access outside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/image_ops.h"
#include "capture/image_ops_internal.h"
#include "capture/image_ops_reference.h"

namespace {

using namespace quillon;

// Takes values from the front of the input; zeros once it runs out.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
  int32_t Side() { return static_cast<int32_t>(Byte() % 80); }  // 0 included: empty views
  int32_t Position() { return static_cast<int32_t>(Byte()) - 128; }
  std::vector<uint8_t> Picture(int32_t width, int32_t height) {
    std::vector<uint8_t> bytes(size_t(width) * size_t(height) * 3);
    const uint32_t low = Byte();
    const uint32_t seed = low | Byte() << 8;
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<uint8_t>((i * 131 + seed) >> (i % 5));
    for (size_t i = 0; i < bytes.size() && size_ > 0; i += 7)
      bytes[i] = static_cast<uint8_t>(Byte());
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

void Check(bool same) {
  if (!same) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  image_ops_internal::SetSimdLevel(
      static_cast<image_ops_internal::SimdLevel>(in.Byte() % image_ops_internal::kSimdLevels));
  const int32_t sw = in.Side(), sh = in.Side(), dw = in.Side(), dh = in.Side();
  std::vector<uint8_t> source = in.Picture(sw, sh);
  const ImageView s = MakeImageView(source.data(), sw, sh);
  std::vector<uint8_t> fast = in.Picture(dw, dh);
  std::vector<uint8_t> plain = fast;
  const ImageView f = MakeImageView(fast.data(), dw, dh);
  const ImageView p = MakeImageView(plain.data(), dw, dh);
  const int32_t x = in.Position(), y = in.Position();
  switch (in.Byte() % 4) {
    case 0:
      ScaleBilinear(f, s);
      reference::ScaleBilinear(p, s);
      break;
    case 1: {
      std::vector<uint8_t> copy = source;
      ScaleDownHalving(f, s);
      reference::ScaleDownHalving(p, MakeImageView(copy.data(), sw, sh));
      Check(copy == source);  // the work space is spoiled the same way
      break;
    }
    case 2: {
      const ImageView drawn = MakeImageView(nullptr, in.Side(), in.Side());
      PasteScaledNearest(f, x, y, drawn, s);
      reference::PasteScaledNearest(p, x, y, drawn, s);
      break;
    }
    default:
      PasteImage(f, x, y, s);
      reference::PasteImage(p, x, y, s);
      break;
  }
  Check(fast == plain);
  return 0;
}
