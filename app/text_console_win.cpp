#include <windows.h>

#include <cstdio>

#include "app/text_console.h"

namespace quillon {
namespace {

bool Leads(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

void UseParentConsole() {
  const bool output = Leads(STD_OUTPUT_HANDLE);
  const bool error = Leads(STD_ERROR_HANDLE);
  if (output && error) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  // The console's own handles replace only the streams that led nowhere.
  if (!output) std::freopen("CONOUT$", "w", stdout);
  if (!error) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace quillon
