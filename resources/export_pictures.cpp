// Writes the program's pictures as the files the Windows resource script takes: the banner as a
// 24-bit bitmap, the camera drawing as a 256-colour bitmap and the application icon in several
// sizes, and the icon as PNG files for the desktop's icon theme (quillon-publisher-SIZE.png). The
// pictures are drawn by the same code the Linux window uses, so both look alike.
//   export_pictures FOLDER   (run with QT_QPA_PLATFORM=offscreen where there is no display)
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QtEndian>
#include <cstdio>

#include "resources/pictures_qt.h"

namespace {

void Put16(QByteArray& out, quint16 value) {
  const quint16 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 2);
}

void Put32(QByteArray& out, quint32 value) {
  const quint32 le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 4);
}

// One icon image in the icon file's bitmap form: a 32-bit colour bitmap of double height, rows
// bottom-up, followed by the 1-bit mask (all shown: the alpha channel does the masking).
QByteArray IconImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int size = image.width();
  QByteArray out;
  Put32(out, 40);
  Put32(out, static_cast<quint32>(size));
  Put32(out, static_cast<quint32>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  for (int y = size - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < size; ++x) {
      const QRgb pixel = row[x];
      out.append(static_cast<char>(qBlue(pixel)));
      out.append(static_cast<char>(qGreen(pixel)));
      out.append(static_cast<char>(qRed(pixel)));
      out.append(static_cast<char>(qAlpha(pixel)));
    }
  }
  const int maskStride = ((size + 31) / 32) * 4;
  out.append(QByteArray(maskStride * size, '\0'));
  return out;
}

QByteArray IconFile(const QIcon& icon, const QList<int>& sizes) {
  QList<QByteArray> images;
  for (int size : sizes) images.append(IconImage(icon.pixmap(size, size).toImage()));
  QByteArray out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<quint16>(images.size()));
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (int i = 0; i < images.size(); ++i) {
    out.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
    out.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
    out.append('\0');  // no palette
    out.append('\0');
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<quint32>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<quint32>(images[i].size());
  }
  for (const QByteArray& image : images) out.append(image);
  return out;
}

bool Write(const QString& path, const QByteArray& data) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fputs("usage: export_pictures FOLDER\n", stderr);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  const QImage banner = quillon::BannerPicture().toImage().convertToFormat(QImage::Format_RGB888);
  const QImage camera = quillon::CameraPicture().toImage().convertToFormat(
      QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
  const bool written = banner.save(folder.filePath(QStringLiteral("banner.bmp")), "BMP") &&
                       camera.save(folder.filePath(QStringLiteral("camera.bmp")), "BMP") &&
                       Write(folder.filePath(QStringLiteral("quillon.ico")),
                             IconFile(quillon::ApplicationIcon(), {16, 24, 32, 48}));
  bool themed = true;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    const QString name = QStringLiteral("quillon-publisher-%1.png").arg(size);
    themed =
        quillon::ApplicationIcon().pixmap(size, size).save(folder.filePath(name), "PNG") && themed;
  }
  if (!written || !themed) {
    std::fprintf(stderr, "export_pictures: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
