// The picture types of a class: which pictures the encoder gets and which of them is the large
// one. config.ini stores the type as the number VideoStyle, which is also its position in the
// window's picture-type list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace quillon {

enum class PictureType : int32_t {
  kDesktop = 0,
  kCamera = 1,
  kDesktopWithCameraInset = 2,
  kCameraWithDesktopInset = 3,
};

// The picture that fills the frame; the other one, when the type uses it, is the inset.
enum class LargePicture { kDesktop, kCamera };

// The entries of the picture-type list, in VideoStyle order: entry i stands for VideoStyle=i.
inline constexpr std::array<const char*, 4> kPictureTypeLabels = {
    "仅直播电脑桌面", "仅直播摄像头", "画中画（大画面是桌面）", "画中画（大画面是摄像头）"};

// The type a stored VideoStyle stands for; none for any other number (-1 is what an empty list
// selection writes back).
constexpr std::optional<PictureType> PictureTypeFromVideoStyle(int32_t videoStyle) {
  if (videoStyle < static_cast<int32_t>(PictureType::kDesktop) ||
      videoStyle > static_cast<int32_t>(PictureType::kCameraWithDesktopInset)) {
    return std::nullopt;
  }
  return static_cast<PictureType>(videoStyle);
}

constexpr bool UsesDesktop(PictureType type) {
  return type != PictureType::kCamera;
}

constexpr bool UsesCamera(PictureType type) {
  return type != PictureType::kDesktop;
}

// Both pictures: the small one is pasted into the large one.
constexpr bool HasInset(PictureType type) {
  return UsesDesktop(type) && UsesCamera(type);
}

constexpr LargePicture LargePictureOf(PictureType type) {
  return type == PictureType::kDesktop || type == PictureType::kDesktopWithCameraInset
             ? LargePicture::kDesktop
             : LargePicture::kCamera;
}

}  // namespace quillon
