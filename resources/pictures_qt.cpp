#include "resources/pictures_qt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace quillon {
namespace {

// The mark of the product: a white quill across a rounded blue square, size × size pixels.
QPixmap Mark(int size) {
  QPixmap mark(size, size);
  mark.fill(Qt::transparent);
  QPainter painter(&mark);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, 0, size);
  fill.setColorAt(0, QColor(0x3a, 0x8d, 0xde));
  fill.setColorAt(1, QColor(0x1d, 0x5a, 0xa8));
  painter.setBrush(fill);
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
  QPainterPath quill;
  quill.moveTo(size * 0.22, size * 0.82);
  quill.cubicTo(size * 0.35, size * 0.45, size * 0.55, size * 0.22, size * 0.82, size * 0.16);
  quill.cubicTo(size * 0.74, size * 0.42, size * 0.52, size * 0.62, size * 0.30, size * 0.70);
  quill.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(quill);
  painter.setPen(QPen(Qt::white, qMax(1.0, size / 20.0)));
  painter.drawLine(QPointF(size * 0.16, size * 0.88), QPointF(size * 0.40, size * 0.58));
  return mark;
}

}  // namespace

QPixmap BannerPicture() {
  QPixmap banner(kBannerWidth, kBannerHeight);
  QPainter painter(&banner);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, kBannerWidth, 0);
  sky.setColorAt(0, QColor(0x12, 0x4a, 0x8c));
  sky.setColorAt(1, QColor(0x3f, 0x9a, 0xe8));
  painter.fillRect(banner.rect(), sky);
  painter.drawPixmap(8, 7, Mark(36));
  QFont title;
  title.setFamilies({"WenQuanYi Micro Hei", "Noto Sans CJK SC", "SimSun"});
  title.setPixelSize(17);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(Qt::white);
  painter.drawText(QRect(52, 4, kBannerWidth - 56, 26), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("新一代网络教学系统"));
  QFont subtitle = title;
  subtitle.setBold(false);
  subtitle.setPixelSize(11);
  painter.setFont(subtitle);
  painter.setPen(QColor(0xd8, 0xea, 0xff));
  painter.drawText(QRect(53, 29, kBannerWidth - 56, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Quillon Publisher · 直播课堂"));
  return banner;
}

QPixmap CameraPicture() {
  QPixmap picture(kCameraWidth, kCameraHeight);
  picture.fill(QColor(0xc8, 0xc8, 0xc8));
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(kCameraWidth / 2.0, kCameraHeight / 2.0 - 8);
  // Body, viewfinder bump, lens rings.
  painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 3));
  painter.setBrush(QColor(0xa0, 0xa0, 0xa0));
  painter.drawRoundedRect(QRectF(centre.x() - 58, centre.y() - 34, 116, 74), 12, 12);
  painter.drawRoundedRect(QRectF(centre.x() - 22, centre.y() - 46, 44, 14), 4, 4);
  painter.setBrush(QColor(0x88, 0x88, 0x88));
  painter.drawEllipse(centre + QPointF(0, 3), 28, 28);
  painter.setBrush(QColor(0x60, 0x60, 0x60));
  painter.drawEllipse(centre + QPointF(0, 3), 16, 16);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xe0, 0xe0, 0xe0));
  painter.drawEllipse(centre + QPointF(-6, -3), 5, 5);
  QFont caption;
  caption.setFamilies({"WenQuanYi Micro Hei", "Noto Sans CJK SC", "SimSun"});
  caption.setPixelSize(12);
  painter.setFont(caption);
  painter.setPen(QColor(0x68, 0x68, 0x68));
  painter.drawText(QRect(0, kCameraHeight - 34, kCameraWidth, 24), Qt::AlignCenter,
                   QStringLiteral("上课后这里显示摄像头画面"));
  return picture;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(Mark(size));
  return icon;
}

}  // namespace quillon
