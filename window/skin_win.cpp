// The skin library is found by name, like any library beside the program, and called by ordinal.
// It stays loaded once started: windows it has skinned may still call into it.
#include "window/skin_win.h"

#include <windows.h>

#include "base/ansi_text.h"
#include "window/appface/appface.h"

namespace quillon {
namespace {

// The skin library of the process, loaded on the first start.
HMODULE SkinLibrary(bool load) {
  static HMODULE library = nullptr;
  if (library == nullptr && load) library = LoadLibraryW(L"AppFace.dll");
  return library;
}

// An entry by ordinal as the function type it has; the cast through void (*)() is the one that
// converts between function types.
template <typename Entry>
Entry EntryOf(HMODULE library, WORD ordinal) {
  if (library == nullptr) return nullptr;
  const FARPROC entry = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace

bool StartSkin(const std::string& file) {
  const auto start = EntryOf<SkinStartEntry>(SkinLibrary(true), kSkinStartOrdinal);
  if (start == nullptr) return false;
  const std::string path = Utf8ToAnsi(file);
  return start(path.c_str()) != FALSE;
}

void RemoveSkin() {
  const auto remove = EntryOf<SkinRemoveEntry>(SkinLibrary(false), kSkinRemoveOrdinal);
  if (remove != nullptr) remove();
}

}  // namespace quillon
