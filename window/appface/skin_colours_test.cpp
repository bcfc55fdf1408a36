#include "window/appface/skin_colours.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace quillon {
namespace {

TEST(SkinColours, ParsesTheColourForms) {
  EXPECT_EQ(ParseColour("#f3f6fa"), (Rgb{0xf3, 0xf6, 0xfa}));
  EXPECT_EQ(ParseColour(" #2F7FD6 "), (Rgb{0x2f, 0x7f, 0xd6}));
  EXPECT_EQ(ParseColour("#fff"), (Rgb{255, 255, 255}));
  EXPECT_EQ(ParseColour("rgb(1, 2,255)"), (Rgb{1, 2, 255}));
  for (const char* bad : {"", "#", "#ffff", "#gggggg", "#1234567", "white", "rgb(1,2)",
                          "rgb(1,2,3,4)", "rgb(1,2,256)", "rgb(-1,2,3)", "rgb(1,x,3)"}) {
    EXPECT_FALSE(ParseColour(bad)) << bad;
  }
}

TEST(SkinColours, ReadsThePlainRulesOfDialogLabelsAndButtons) {
  const SkinColours colours = ReadSkinColours(R"(
    /* QDialog { background-color: #000000; } is a comment */
    QDialog { color: #010101; background-color: #f3f6fa; }
    QLabel, QCheckBox, QGroupBox { color: #24313f; }
    QPushButton { background-color: #ffffff; border: 1px solid #a9b7c6; }
    QPushButton:hover { background-color: #eaf2fb; }
    QPushButton[objectName="1012"] { background-color: #2f7fd6; color: #ffffff; }
    QComboBox { background-color: #123456; }
  )");
  EXPECT_EQ(colours.DialogBackground, (Rgb{0xf3, 0xf6, 0xfa}));
  EXPECT_EQ(colours.Text, (Rgb{0x24, 0x31, 0x3f})) << "a label's colour wins over the dialog's";
  EXPECT_EQ(colours.ButtonBackground, (Rgb{0xff, 0xff, 0xff})) << "states and ids are left out";
  EXPECT_FALSE(colours.ButtonText);
}

TEST(SkinColours, LaterRulesWinAndBrokenTextGivesNothing) {
  const SkinColours later = ReadSkinColours(
      "QDialog { background: #111111 } QDialog { background-color: nonsense; }"
      "QDialog { background-color: #222222 }");
  EXPECT_EQ(later.DialogBackground, (Rgb{0x22, 0x22, 0x22}));

  for (const char* broken : {"", "not a style sheet", "QDialog { background-color: #f3f6fa",
                             "/* QDialog { background-color: #f3f6fa; }", "{}{}}}{{",
                             "QDialog background-color: #f3f6fa;"}) {
    EXPECT_TRUE(ReadSkinColours(broken).Empty()) << broken;
  }
}

TEST(SkinColours, TheShippedSkinGivesTheDialogItsColours) {
  std::ifstream file(std::string(QUILLON_SOURCE_DIR) + "/resources/face.dll", std::ios::binary);
  ASSERT_TRUE(file);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const SkinColours colours = ReadSkinColours(text);
  EXPECT_TRUE(colours.DialogBackground);
  EXPECT_TRUE(colours.Text);
  EXPECT_TRUE(colours.ButtonBackground);
}

}  // namespace
}  // namespace quillon
