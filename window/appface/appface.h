// The skin library AppFace.dll as the program calls it: two entries, found by ordinal.
#pragma once

#include <windows.h>

namespace quillon {

// Ordinal 1: starts the skin from the skin file at skinFile (a path in the ANSI code page) for
// the dialogs of the calling thread. Nonzero when the skin is on; zero (and nothing changed)
// when the file cannot be read or holds no colours.
using SkinStartEntry = BOOL(WINAPI*)(const char* skinFile);
// Ordinal 2: removes the skin; the dialogs get their plain look back.
using SkinRemoveEntry = void(WINAPI*)();

inline constexpr WORD kSkinStartOrdinal = 1;
inline constexpr WORD kSkinRemoveOrdinal = 2;

}  // namespace quillon
