// The colours that AppFace.dll takes from the skin file "face.dll", a Qt style sheet (the same
// file the Linux program applies as it stands): the dialog's background and text, and the
// buttons' background and text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon {

struct Rgb {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct SkinColours {
  std::optional<Rgb> DialogBackground;  // QDialog background-color
  std::optional<Rgb> Text;              // QLabel color, else QCheckBox, else QDialog color
  std::optional<Rgb> ButtonBackground;  // QPushButton background-color
  std::optional<Rgb> ButtonText;        // QPushButton color
  bool Empty() const { return !DialogBackground && !Text && !ButtonBackground && !ButtonText; }
};

// A colour as a style sheet writes it: #rgb, #rrggbb or rgb(r, g, b); nullopt otherwise.
std::optional<Rgb> ParseColour(std::string_view text);

// The colours of the plain rules (a bare type selector, no state or attribute) for the dialog,
// its labels and its push buttons. Rules that come later win, as in a style sheet; anything that
// cannot be read is left out.
SkinColours ReadSkinColours(std::string_view styleSheet);

}  // namespace quillon
