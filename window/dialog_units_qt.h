// Dialog units to pixels: the horizontal unit is a quarter of the dialog font's average
// character width, the vertical unit an eighth of its height, as dialog templates measure.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>

namespace quillon {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (alphabet / 26 + 1) / 2;
    baseY_ = metrics.height();
  }

  int X(int units) const { return Scale(units, baseX_, 4); }
  int Y(int units) const { return Scale(units, baseY_, 8); }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }

 private:
  // value × numerator / denominator, rounded to the nearest pixel.
  static int Scale(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
  }

  int baseX_ = 0;
  int baseY_ = 0;
};

// The dialog font: 宋体 at 9 points where it exists, otherwise the CJK fonts the set-up installs,
// at the 12 pixels that 9 points make on a 96-dpi screen.
inline QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(12);
  return font;
}

}  // namespace quillon
