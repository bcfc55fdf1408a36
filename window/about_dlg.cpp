#include "window/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "resources/pictures_qt.h"
#include "window/dialog_units_qt.h"

namespace quillon {

QString AboutDlg::ProductText() {
  return QStringLiteral(
      "新一代网络教学系统 (Quillon Publisher)  Build 1.0.140102.20\n"
      "\n"
      "把你的电脑桌面、摄像头画面和麦克风声音直播给课堂里的每一位学生。\n"
      "\n"
      "使用方法:\n"
      "  1. 在课堂网页上点击上课链接打开本程序; 直接启动时会开一节快速课堂, 并告诉你课堂号。\n"
      "  2. 在\"参数设置\"中选择画面类型、视频设备和音频设备, 设定速率, 决定是否发送音频。\n"
      "  3. 点击\"上课\"开始直播, 点击\"下课\"结束; 上课时更换画面类型会自动重新开始直播。\n"
      "  4. 关闭窗口即结束本次直播。\n"
      "\n"
      "设置保存在程序目录下的 config.ini 中。\n"
      "本程序使用了 Qt、FFmpeg、x264 和 GStreamer 等开源软件, 谨此致谢。");
}

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("100"));
  setWindowTitle(QStringLiteral("关于"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);

  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(du.X(20), du.Y(20)));
  icon->setGeometry(du.Rect(6, 13, 20, 20));

  auto* maker = new QLabel(QStringLiteral("Quillon 教学软件 出品"), this);
  maker->setGeometry(du.Rect(36, 14, 162, 10));

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setGeometry(du.Rect(271, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* rights = new QLabel(QStringLiteral("版权所有 (C) 2014 Quillon"), this);
  rights->setGeometry(du.Rect(36, 28, 121, 11));

  // Left-aligned and wrapped at the frame; the frame, and the box with it, grow to hold all of
  // the text in whatever font this system has.
  auto* product = new QLabel(ProductText(), this);
  product->setObjectName(QStringLiteral("1057"));
  product->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  product->setWordWrap(true);
  product->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  product->setMargin(2);
  const QRect frame = du.Rect(6, 46, 315, 144);
  const int height = qMax(frame.height(), product->heightForWidth(frame.width()));
  product->setGeometry(frame.x(), frame.y(), frame.width(), height);
  setFixedSize(du.X(328), frame.y() + height + du.Y(7));
}

}  // namespace quillon
