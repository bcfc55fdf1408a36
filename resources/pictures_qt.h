// The program's pictures, drawn when first asked for: the banner (bitmap 132), the grey camera
// drawing of the preview area (bitmap 140) and the application icon (icon 128).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace quillon {

inline constexpr int kBannerWidth = 226, kBannerHeight = 50;
inline constexpr int kCameraWidth = 227, kCameraHeight = 173;

QPixmap BannerPicture();
QPixmap CameraPicture();
QIcon ApplicationIcon();

}  // namespace quillon
