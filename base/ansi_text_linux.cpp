// On Linux the ANSI code page is UTF-8: only invalid sequences change.
#include "base/ansi_text.h"

#include <cstdint>

namespace quillon {
namespace {

struct Sequence {
  std::size_t length;  // well-formed: its length; otherwise the longest start that could have been
  bool well_formed;
};

// Looks at the UTF-8 sequence at the start of a non-empty text. Overlong forms, surrogates and
// code points above U+10FFFF are not well-formed.
Sequence ScanSequence(std::string_view text) {
  const uint8_t lead = static_cast<uint8_t>(text[0]);
  if (lead < 0x80) return {1, true};
  std::size_t length;
  uint8_t low = 0x80;  // range of the second byte; later ones are always 80 to BF
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= text.size()) return {i, false};
    const uint8_t byte = static_cast<uint8_t>(text[i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return {i, false};
  }
  return {length, true};
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  while (!utf8.empty()) {
    const Sequence sequence = ScanSequence(utf8);
    if (sequence.well_formed) {
      result.append(utf8.substr(0, sequence.length));
    } else {
      result += '?';  // one for each maximal invalid part, as the Windows conversion gives
    }
    utf8.remove_prefix(sequence.length);
  }
  return result;
}

}  // namespace quillon
