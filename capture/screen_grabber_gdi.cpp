// The desktop through GDI: a block transfer from the display's device context into a compatible
// bitmap, read back as 24-bit bottom-up rows.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/screen_grabber.h"
#include "capture/win_handles.h"

namespace quillon {
namespace {

class ScreenGrabberGdi final : public ScreenGrabber {
 public:
  void GrabScreen(uint8_t* buffer, int32_t width, int32_t height) override;
  bool DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) override;

 private:
  // The rows as the system hands them, each padded to a multiple of 4 bytes, for widths whose
  // 24-bit rows are not already that long.
  std::vector<uint8_t> paddedRows_;
};

void ScreenGrabberGdi::GrabScreen(uint8_t* buffer, int32_t width, int32_t height) {
  if (buffer == nullptr || width <= 0 || height <= 0) return;
  // Every object made here is released before returning, in the reverse order of making: the
  // memory context, the bitmap, the display context.
  win::UniqueCreatedDc display(CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
  if (!display) return;
  win::UniqueBitmap bitmap(CreateCompatibleBitmap(display.get(), width, height));
  if (!bitmap) return;
  win::UniqueCreatedDc memory(CreateCompatibleDC(display.get()));
  if (!memory) return;
  {
    // Only the part on the screen is copied, the rest is black: a transfer reaching beyond the
    // screen can fail whole (Wine copies nothing then).
    const int onScreenWidth = std::min(width, GetDeviceCaps(display.get(), HORZRES));
    const int onScreenHeight = std::min(height, GetDeviceCaps(display.get(), VERTRES));
    win::ScopedSelectObject selected(memory.get(), bitmap.get());
    PatBlt(memory.get(), 0, 0, width, height, BLACKNESS);
    BitBlt(memory.get(), 0, 0, onScreenWidth, onScreenHeight, display.get(), 0, 0, SRCCOPY);
  }  // the bitmap is free again: GetDIBits needs it unselected

  BITMAP description{};
  GetObjectA(bitmap.get(), sizeof description, &description);
  // Never read more lines or wider lines than the caller's buffer holds.
  if (description.bmWidth != width || description.bmHeight != height) return;

  BITMAPINFO info{};
  BITMAPINFOHEADER& header = info.bmiHeader;
  header.biSize = sizeof header;
  header.biWidth = description.bmWidth;
  header.biHeight = description.bmHeight;  // positive: bottom-up rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage =
      static_cast<DWORD>(description.bmHeight) * static_cast<DWORD>(description.bmWidthBytes);

  // The system pads each row to a multiple of 4 bytes. Where width * 3 is such a multiple the
  // rows land straight in the caller's buffer; otherwise they go through paddedRows_ and are
  // copied without their padding.
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const size_t paddedRowBytes = (rowBytes + 3) & ~size_t{3};
  uint8_t* target = buffer;
  if (paddedRowBytes != rowBytes) {
    paddedRows_.resize(paddedRowBytes * static_cast<size_t>(height));
    target = paddedRows_.data();
  }
  const int lines = GetDIBits(display.get(), bitmap.get(), 0, static_cast<UINT>(height), target,
                              &info, DIB_RGB_COLORS);
  if (target != buffer && lines > 0) {
    for (int32_t row = 0; row < lines && row < height; ++row) {
      std::memcpy(buffer + static_cast<size_t>(row) * rowBytes,
                  target + static_cast<size_t>(row) * paddedRowBytes, rowBytes);
    }
  }
}

bool ScreenGrabberGdi::DrawCursorMarker(uint8_t* buffer, int32_t width, int32_t height) {
  POINT position{};
  if (!GetCursorPos(&position)) return false;
  return DrawMarkerAt(buffer, width, height, position.x, position.y);
}

}  // namespace

std::unique_ptr<ScreenGrabber> CreateScreenGrabber(
    const std::filesystem::path& /*settingsFolder*/) {
  return std::make_unique<ScreenGrabberGdi>();
}

std::string DescribeDesktopSource() {
  return "the Windows desktop (GDI)";
}

}  // namespace quillon
