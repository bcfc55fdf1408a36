#include "window/skin_qt.h"

#include <QApplication>
#include <QFile>

namespace quillon {
namespace {
// A style sheet is small; anything larger is not one.
constexpr qint64 kLargestSkin = 1 << 20;
}  // namespace

bool StartSkin(const std::string& file) {
  QFile skin(QString::fromStdString(file));
  if (!skin.open(QIODevice::ReadOnly) || skin.size() > kLargestSkin) return false;
  const QByteArray text = skin.read(kLargestSkin);
  if (skin.error() != QFileDevice::NoError) return false;
  qApp->setStyleSheet(QString::fromUtf8(text));
  return true;
}

void RemoveSkin() {
  qApp->setStyleSheet(QString());
}

}  // namespace quillon
