#include "base/picture_type.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(PictureTypeTest, StoredNumbersAndThePicturesEachTypeUses) {
  EXPECT_EQ(PictureTypeFromVideoStyle(-1), std::nullopt);
  EXPECT_EQ(PictureTypeFromVideoStyle(4), std::nullopt);

  struct Case {
    int32_t videoStyle;
    PictureType type;
    bool desktop, camera, inset;
    LargePicture large;
  };
  const Case cases[] = {
      {0, PictureType::kDesktop, true, false, false, LargePicture::kDesktop},
      {1, PictureType::kCamera, false, true, false, LargePicture::kCamera},
      {2, PictureType::kDesktopWithCameraInset, true, true, true, LargePicture::kDesktop},
      {3, PictureType::kCameraWithDesktopInset, true, true, true, LargePicture::kCamera},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("VideoStyle " + std::to_string(c.videoStyle));
    EXPECT_EQ(PictureTypeFromVideoStyle(c.videoStyle), c.type);
    EXPECT_EQ(UsesDesktop(c.type), c.desktop);
    EXPECT_EQ(UsesCamera(c.type), c.camera);
    EXPECT_EQ(HasInset(c.type), c.inset);
    EXPECT_EQ(LargePictureOf(c.type), c.large);
  }
}

}  // namespace
}  // namespace quillon
