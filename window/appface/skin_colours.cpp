#include "window/appface/skin_colours.h"

#include <cctype>
#include <charconv>
#include <string>

namespace quillon {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::string WithoutComments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "/*") == 0) {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) break;
      i = end + 2;
      out += ' ';
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return std::nullopt;
}

std::optional<Rgb> ParseHex(std::string_view digits) {
  uint8_t parts[3];
  if (digits.size() == 3) {
    for (int i = 0; i < 3; ++i) {
      const auto d = HexDigit(digits[static_cast<size_t>(i)]);
      if (!d) return std::nullopt;
      parts[i] = static_cast<uint8_t>(*d * 17);
    }
  } else if (digits.size() == 6) {
    for (int i = 0; i < 3; ++i) {
      const auto high = HexDigit(digits[static_cast<size_t>(2 * i)]);
      const auto low = HexDigit(digits[static_cast<size_t>(2 * i + 1)]);
      if (!high || !low) return std::nullopt;
      parts[i] = static_cast<uint8_t>(*high * 16 + *low);
    }
  } else {
    return std::nullopt;
  }
  return Rgb{parts[0], parts[1], parts[2]};
}

std::optional<Rgb> ParseRgbFunction(std::string_view inside) {
  uint8_t parts[3];
  for (int i = 0; i < 3; ++i) {
    const size_t comma = inside.find(',');
    if ((i < 2) != (comma != std::string_view::npos)) return std::nullopt;
    const std::string_view number = Trim(inside.substr(0, comma));
    int value = -1;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || value < 0 || value > 255) {
      return std::nullopt;
    }
    parts[i] = static_cast<uint8_t>(value);
    inside = i < 2 ? inside.substr(comma + 1) : std::string_view();
  }
  return Rgb{parts[0], parts[1], parts[2]};
}

// Which colour of SkinColours a selector's property fills. Rank orders the rules that give the
// text colour: a lower rank wins over a higher one, whatever their order in the file.
struct Target {
  std::string_view Selector;
  std::string_view Property;
  std::optional<Rgb> SkinColours::*Colour;
  int Rank;
};

constexpr Target kTargets[] = {
    {"QDialog", "background-color", &SkinColours::DialogBackground, 0},
    {"QDialog", "background", &SkinColours::DialogBackground, 0},
    {"QLabel", "color", &SkinColours::Text, 0},
    {"QCheckBox", "color", &SkinColours::Text, 1},
    {"QDialog", "color", &SkinColours::Text, 2},
    {"QPushButton", "background-color", &SkinColours::ButtonBackground, 0},
    {"QPushButton", "background", &SkinColours::ButtonBackground, 0},
    {"QPushButton", "color", &SkinColours::ButtonText, 0},
};

}  // namespace

std::optional<Rgb> ParseColour(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '#') return ParseHex(text.substr(1));
  if (text.size() > 5 && text.substr(0, 4) == "rgb(" && text.back() == ')') {
    return ParseRgbFunction(text.substr(4, text.size() - 5));
  }
  return std::nullopt;
}

SkinColours ReadSkinColours(std::string_view styleSheet) {
  const std::string text = WithoutComments(styleSheet);
  SkinColours colours;
  int textRank = 100;  // no text colour yet

  size_t position = 0;
  while (position < text.size()) {
    const size_t open = text.find('{', position);
    if (open == std::string::npos) break;
    const size_t close = text.find('}', open + 1);
    if (close == std::string::npos) break;
    const std::string_view selectors = std::string_view(text).substr(position, open - position);
    const std::string_view body = std::string_view(text).substr(open + 1, close - open - 1);
    position = close + 1;

    for (size_t start = 0; start <= selectors.size();) {
      size_t comma = selectors.find(',', start);
      if (comma == std::string_view::npos) comma = selectors.size();
      const std::string_view selector = Trim(selectors.substr(start, comma - start));
      start = comma + 1;

      for (size_t from = 0; from < body.size();) {
        size_t semicolon = body.find(';', from);
        if (semicolon == std::string_view::npos) semicolon = body.size();
        const std::string_view declaration = body.substr(from, semicolon - from);
        from = semicolon + 1;
        const size_t colon = declaration.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view property = Trim(declaration.substr(0, colon));
        const std::optional<Rgb> colour = ParseColour(declaration.substr(colon + 1));
        if (!colour) continue;
        for (const Target& target : kTargets) {
          if (target.Selector != selector || target.Property != property) continue;
          // The text colour comes from the most specific rule that gives one.
          if (target.Colour == &SkinColours::Text) {
            if (target.Rank > textRank) continue;
            textRank = target.Rank;
          }
          colours.*target.Colour = colour;
        }
      }
    }
  }
  return colours;
}

}  // namespace quillon
