// Loading the encoder library with LoadLibrary. Paths are UTF-8 text, like all of the program's.
#include <windows.h>

#include <filesystem>
#include <string>

#include "capture/encoder_library.h"
#include "capture/encoder_library_loader.h"
#include "capture/win_handles.h"

namespace quillon {
namespace {

// The system's text for error, with its number, as UTF-8.
std::string ErrorText(DWORD error) {
  std::string text = "error " + std::to_string(error);
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length > 0 && message != nullptr) {
    std::wstring wide(message, length);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' '))
      wide.pop_back();
    const std::u8string utf8 = std::filesystem::path(wide).u8string();
    text += ": " + std::string(utf8.begin(), utf8.end());
  }
  if (message != nullptr) LocalFree(message);
  return text;
}

void* FindExport(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace

const char* EncoderLibraryFileName() {
  return "Verbena.dll";
}

std::shared_ptr<const EncoderLibrary> LoadEncoderLibrary(const std::string& path) {
  const std::filesystem::path file =
      std::filesystem::path(std::u8string(path.begin(), path.end())).make_preferred();
  // A library given by its full path finds the libraries it needs beside itself; no system
  // dialog about a missing one interrupts the class.
  const DWORD flags = file.is_absolute() ? LOAD_WITH_ALTERED_SEARCH_PATH : 0;
  DWORD previousMode = 0;
  const bool modeSet =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
  win::UniqueModule module(LoadLibraryExW(file.c_str(), nullptr, flags));
  const DWORD error = GetLastError();
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  if (!module) {
    ReportEncoderLibraryLoadFailure(path, ErrorText(error));
    return nullptr;
  }
  HMODULE handle = module.get();
  std::shared_ptr<void> keepAlive(module.release(), win::ModuleDeleter());
  return BindEncoderLibrary(handle, FindExport, path, std::move(keepAlive));
}

}  // namespace quillon
