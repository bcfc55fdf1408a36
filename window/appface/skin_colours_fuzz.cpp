// Feeds arbitrary skin files to the colour reader: it must neither crash nor read out of bounds,
// and a colour it reads must read back the same when written as #rrggbb.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "window/appface/skin_colours.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void RequireRoundTrip(const std::optional<quillon::Rgb>& colour) {
  if (!colour) return;
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour->Red, colour->Green, colour->Blue);
  Require(quillon::ParseColour(text) == colour);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const quillon::SkinColours colours = quillon::ReadSkinColours(text);
  RequireRoundTrip(colours.DialogBackground);
  RequireRoundTrip(colours.Text);
  RequireRoundTrip(colours.ButtonBackground);
  RequireRoundTrip(colours.ButtonText);
  RequireRoundTrip(quillon::ParseColour(text));
  return 0;
}
