// Owners for the Win32 handles of the capture engine: each releases its handle with the call
// that belongs to it when it goes out of scope.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace quillon::win {

struct ModuleDeleter {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
// A device context made with CreateDC or CreateCompatibleDC.
struct CreatedDcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};

using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeleter>;
using UniqueCreatedDc = std::unique_ptr<std::remove_pointer_t<HDC>, CreatedDcDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

// Selects an object into a device context for the scope's lifetime and puts the one it replaced
// back at the end.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace quillon::win
