// On Windows the text goes through UTF-16 into the system's ANSI code page (936 on a Chinese
// system). Invalid UTF-8 becomes U+FFFD on the way, which the code page turns into "?".
#include <windows.h>

#include <climits>

#include "base/ansi_text.h"

namespace quillon {

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX / 2)) return {};
  const int length = static_cast<int>(text.size());
  const int wide_length = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (wide_length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), wide_length);
  return wide;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  return ToWide(CP_UTF8, utf8);
}

std::wstring AnsiToWide(std::string_view ansi) {
  return ToWide(CP_ACP, ansi);
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX / 2)) return {};
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) return std::string(utf8.size(), '?');
  const int wide_length = static_cast<int>(wide.size());
  const int ansi_length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, "?", nullptr);
  if (ansi_length <= 0) return std::string(utf8.size(), '?');
  std::string ansi(static_cast<std::size_t>(ansi_length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, ansi.data(), ansi_length, "?", nullptr);
  return ansi;
}

}  // namespace quillon
