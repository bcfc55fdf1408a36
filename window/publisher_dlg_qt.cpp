#include "window/publisher_dlg_qt.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRasterWindow>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>

#include "base/log.h"
#include "base/picture_type.h"
#include "resources/pictures_qt.h"
#include "window/about_dlg.h"
#include "window/dialog_units_qt.h"
#include "window/message_box_qt.h"
#include "window/shockwave_flash.h"
#include "window/skin_qt.h"

namespace quillon {
namespace {

// The preview area: a native window of its own (the camera preview draws into it by its id)
// showing the grey camera drawing until the camera covers it.
class CameraPreviewWindow : public QRasterWindow {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(0, 0), size()), QColor(0xc8, 0xc8, 0xc8));
    painter.drawPixmap(0, 0, CameraPicture());
  }
};

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QLabel* AddLabel(QWidget* parent, const DialogUnits& du, const QString& text, QRect units,
                 Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(du.Rect(units.x(), units.y(), units.width(), units.height()));
  label->setAlignment(alignment);
  return label;
}

QComboBox* AddList(QWidget* parent, const DialogUnits& du, const char* id, QRect units) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QLatin1String(id));
  // The template height is that of the open list; closed, a list is as tall as the rate box.
  list->setGeometry(du.Rect(units.x(), units.y(), units.width(), 14));
  list->setMaxVisibleItems(qMax(1, (units.height() - 14) / 10));
  // Entries drawn as item views draw them, so that the skin's colours for the highlighted entry
  // hold (the style's own menu-like entries ignore them).
  list->setItemDelegate(new QStyledItemDelegate(list));
  return list;
}

InputMessage::Button ButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return InputMessage::Button::kLeft;
    case Qt::RightButton:
      return InputMessage::Button::kRight;
    case Qt::MiddleButton:
      return InputMessage::Button::kMiddle;
    default:
      return InputMessage::Button::kNone;
  }
}

// The input message a Qt event stands for; kOther for everything the window does not filter.
InputMessage MessageOf(QEvent* event) {
  InputMessage message;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      message.kind =
          event->type() == QEvent::MouseButtonPress     ? InputMessage::Kind::kMouseButtonPress
          : event->type() == QEvent::MouseButtonRelease ? InputMessage::Kind::kMouseButtonRelease
                                                        : InputMessage::Kind::kMouseDoubleClick;
      message.button = ButtonOf(static_cast<QMouseEvent*>(event)->button());
      break;
    case QEvent::ContextMenu:
      message.kind = InputMessage::Kind::kContextMenu;
      break;
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      message.kind = InputMessage::Kind::kKeyPress;
      message.key = key == Qt::Key_Return || key == Qt::Key_Enter ? 13
                    : key == Qt::Key_Escape                       ? 27
                                                                  : 0;
      break;
    }
    default:
      break;
  }
  return message;
}

}  // namespace

PublisherDlg::PublisherDlg(SettingsStore& store, SessionFactory& sessions, DeviceLists& devices,
                           const std::filesystem::path& programFolder, QWidget* parent)
    : QDialog(parent), icon_(ApplicationIcon()) {
  setObjectName(QStringLiteral("102"));
  // Caption, window menu and minimise box; no maximise box; a fixed frame.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowTitle(QString());
  BuildControls();
  logic_ =
      std::make_unique<PublisherDlgLogic>(*this, *page_, store, sessions, devices, programFolder);
  qApp->installEventFilter(this);
}

PublisherDlg::~PublisherDlg() {
  qApp->removeEventFilter(this);
  logic_.reset();
}

void PublisherDlg::BuildControls() {
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits du(font);
  setFixedSize(du.X(638), du.Y(385));  // the template's 373, and the status line below

  auto* banner = new QLabel(this);
  banner->setObjectName(QStringLiteral("1058"));
  banner->setGeometry(du.Rect(6, 7, 151, 33));
  banner->setPixmap(BannerPicture());
  banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  startButton_ = new QPushButton(QStringLiteral("上课"), this);
  startButton_->setObjectName(QStringLiteral("1012"));
  startButton_->setGeometry(du.Rect(41, 54, 75, 16));
  startButton_->setAutoDefault(false);
  connect(startButton_, &QPushButton::clicked, this, [this] { logic_->OnStartClass(); });

  endButton_ = new QPushButton(QStringLiteral("下课"), this);
  endButton_->setObjectName(QStringLiteral("1043"));
  endButton_->setGeometry(du.Rect(41, 54, 75, 16));
  endButton_->setAutoDefault(false);
  connect(endButton_, &QPushButton::clicked, this, [this] { logic_->OnEndClass(); });

  // Linux has no system menu of a window's own: the about entry sits in a menu behind this
  // button (and on Alt+A).
  menuButton_ = new QPushButton(QStringLiteral("菜单"), this);
  menuButton_->setObjectName(QStringLiteral("SystemMenu"));
  menuButton_->setGeometry(du.Rect(122, 56, 34, 12));
  menuButton_->setAutoDefault(false);
  menuButton_->setToolTip(QStringLiteral("关于本程序"));
  menuButton_->setMenu(new QMenu(menuButton_));

  auto* hint =
      AddLabel(this, du, QStringLiteral("提示: 点击上课按钮后, 所有人可观看到你桌面上的任何操作."),
               QRect(12, 80, 148, 19));
  hint->setWordWrap(true);

  // Created before the controls inside it, so that they are drawn on top.
  auto* group = new QGroupBox(QStringLiteral("参数设置"), this);
  group->setGeometry(du.Rect(6, 111, 152, 107));
  group->lower();

  const auto right = Qt::AlignRight | Qt::AlignVCenter;
  AddLabel(this, du, QStringLiteral("画面类型"), QRect(13, 132, 33, 12), right);
  pictureTypes_ = AddList(this, du, "1057", QRect(51, 130, 101, 87));
  for (const char* label : kPictureTypeLabels) pictureTypes_->addItem(QString::fromUtf8(label));
  connect(pictureTypes_, &QComboBox::activated, this,
          [this](int) { logic_->OnVideoStyleChange(); });

  AddLabel(this, du, QStringLiteral("视频设备"), QRect(13, 150, 33, 11), right);
  cameras_ = AddList(this, du, "1053", QRect(51, 147, 101, 83));
  AddLabel(this, du, QStringLiteral("音频设备"), QRect(13, 167, 33, 11), right);
  sounds_ = AddList(this, du, "1055", QRect(51, 165, 101, 70));

  AddLabel(this, du, QStringLiteral("速率设定"), QRect(13, 185, 33, 11), right);
  rate_ = new QLineEdit(this);
  rate_->setObjectName(QStringLiteral("1056"));
  rate_->setGeometry(du.Rect(51, 183, 31, 14));
  // On the rate box's text line: as tall as the box, centred like its text.
  AddLabel(this, du, QStringLiteral("kb（建议80-800）"), QRect(87, 183, 64, 14),
           Qt::AlignLeft | Qt::AlignVCenter);

  sendSound_ = new QCheckBox(QStringLiteral("发送音频"), this);
  sendSound_->setObjectName(QStringLiteral("1044"));
  sendSound_->setGeometry(du.Rect(51, 204, 48, 11));

  AddLabel(this, du, QStringLiteral("摄像头预览"), QRect(6, 226, 113, 10));
  auto* previewFrame = new QFrame(this);
  previewFrame->setObjectName(QStringLiteral("1046"));
  previewFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  previewFrame->setLineWidth(2);
  previewFrame->setGeometry(du.Rect(6, 237, 153, 117));
  preview_ = new CameraPreviewWindow;
  QWidget* container = QWidget::createWindowContainer(preview_, previewFrame);
  container->setGeometry(previewFrame->contentsRect());

  auto* separator = new QFrame(this);
  separator->setFrameStyle(QFrame::VLine | QFrame::Sunken);
  separator->setGeometry(du.X(165), du.Y(7), qMax(2, du.X(1)), du.Y(359));

  LogTiming("controls made");
  page_ = new CShockwaveFlash(this);
  LogTiming("page view made");
  page_->setObjectName(QStringLiteral("1048"));
  page_->setGeometry(du.Rect(171, 7, 460, 347));
  // What a class needs first is readied once the page is drawn: earlier, it would slow the
  // page down.
  page_->WhenDrawn([this] { logic_->OnPageShown(); });

  pageNote_ = AddLabel(this, du,
           QStringLiteral("如果以上显示为黑色，请用鼠标点击即可正常显示。"
                          "如有其他问题，请与学校的课堂管理员联系。"),
           QRect(175, 356, 456, 10), Qt::AlignHCenter | Qt::AlignTop);
  AddLabel(this, du, QStringLiteral("Quillon 教学软件 出品 · 技术支持请找课堂管理员"),
           QRect(6, 356, 155, 10));
  status_ = AddLabel(this, du, QString(), QRect(6, 370, 625, 10));
  status_->setObjectName(QStringLiteral("status"));

  setWindowIcon(icon_);
}

int PublisherDlg::DoModal() {
  const bool usable = logic_->OnInitDialog();
  int result = QDialog::Rejected;
  QTimer statusTimer;
  connect(&statusTimer, &QTimer::timeout, this, [this] { logic_->OnStatusTick(); });
  if (usable) {
    statusTimer.start(1000);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      FitInto(area.size());
      // Centred; on a screen too small even so, the top left corner stays on it.
      const QPoint corner = area.center() - rect().center();
      move(qMax(corner.x(), area.left()), qMax(corner.y(), area.top()));
    }
    LogTiming("window shown");
    result = exec();
  }
  logic_->OnDestroy();
  return result;
}

void PublisherDlg::FitInto(const QSize& area) {
  // A window manager's frame around the window: its borders and its title bar.
  constexpr int kFrameWidth = 16;
  const int excess = width() + kFrameWidth - area.width();
  if (excess <= 0) return;
  // The page gives up the room; the controls on the left keep their places.
  constexpr int kNarrowestPage = 320;
  const int narrower = qMin(excess, page_->width() - kNarrowestPage);
  if (narrower <= 0) return;
  page_->resize(page_->width() - narrower, page_->height());
  pageNote_->resize(pageNote_->width() - narrower, pageNote_->height());
  status_->resize(status_->width() - narrower, status_->height());
  setFixedSize(width() - narrower, height());
  LogInfo("the screen's work area is %dx%d: the classroom page is %d px narrower so that the "
          "window fits",
          area.width(), area.height(), narrower);
}

bool PublisherDlg::BelongsToWindow(QObject* object) const {
  if (object == preview_) return true;
  if (!object->isWidgetType()) return false;
  const QWidget* widget = static_cast<QWidget*>(object);
  return widget->window() == this;
}

bool PublisherDlg::eventFilter(QObject* watched, QEvent* event) {
  const InputMessage message = MessageOf(event);
  if (message.kind != InputMessage::Kind::kOther && BelongsToWindow(watched) &&
      PublisherDlgLogic::PreTranslateMessage(message)) {
    event->accept();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void PublisherDlg::closeEvent(QCloseEvent* event) {
  logic_->OnClose();
  QDialog::closeEvent(event);
}

void PublisherDlg::AddAboutMenuEntry(const std::string& text) {
  if (text.empty()) return;
  QMenu* menu = menuButton_->menu();
  menu->addSeparator();
  QAction* about = menu->addAction(Text(text));
  about->setObjectName(QStringLiteral("AboutCommand"));
  connect(about, &QAction::triggered, this, [this] { logic_->OnSysCommand(kAboutCommand); });
  auto* shortcut = new QAction(this);
  shortcut->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
  connect(shortcut, &QAction::triggered, this, [this] { logic_->OnSysCommand(kAboutCommand); });
  addAction(shortcut);
}

void PublisherDlg::RunAboutBox() {
  AboutDlg about(this);
  about.exec();
}

void PublisherDlg::StartSkin(const std::string& skinFile) {
  quillon::StartSkin(skinFile);
}

void PublisherDlg::SetTitle(const std::string& title) {
  setWindowTitle(Text(title));
}

void PublisherDlg::BringToFront() {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void PublisherDlg::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowMessageBox(isVisible() ? this : nullptr, text, icon);
}

void PublisherDlg::ShowClassButtons(bool publishing) {
  startButton_->setVisible(!publishing);
  startButton_->setEnabled(!publishing);
  endButton_->setVisible(publishing);
  endButton_->setEnabled(publishing);
}

void PublisherDlg::ShowStatus(const std::string& line) {
  status_->setText(Text(line));
  status_->repaint();  // "connecting" shows before the connection attempt holds the thread
}

void PublisherDlg::RunInBackground(std::function<bool()> work, std::function<void(bool)> done) {
  background_.Run(std::move(work), std::move(done), [this] {
    QMetaObject::invokeMethod(
        this, [this] { background_.Finish(); }, Qt::QueuedConnection);
  });
}

void PublisherDlg::FinishBackground() {
  background_.Finish();
}

std::chrono::milliseconds PublisherDlg::DoubleClickTime() {
  return std::chrono::milliseconds(QApplication::doubleClickInterval());
}

PreviewWindow PublisherDlg::PreviewArea() {
  return static_cast<PreviewWindow>(preview_->winId());
}

void PublisherDlg::Pause(int milliseconds) {
  QThread::msleep(static_cast<unsigned>(milliseconds));
}

void PublisherDlg::FillCameraList(const std::vector<std::string>& names) {
  for (const std::string& name : names) cameras_->addItem(Text(name));
}

void PublisherDlg::FillSoundList(const std::vector<std::string>& names) {
  for (const std::string& name : names) sounds_->addItem(Text(name));
}

void PublisherDlg::SelectSound(int index) {
  sounds_->setCurrentIndex(index >= 0 && index < sounds_->count() ? index : -1);
}

int PublisherDlg::SoundSelection() {
  return sounds_->currentIndex();
}

bool PublisherDlg::SendSoundChecked() {
  return sendSound_->isChecked();
}

void PublisherDlg::SetSendSoundChecked(bool checked) {
  sendSound_->setChecked(checked);
}

int PublisherDlg::CameraSelection() {
  return cameras_->currentIndex();
}

void PublisherDlg::SelectCamera(int index) {
  cameras_->setCurrentIndex(index >= 0 && index < cameras_->count() ? index : -1);
}

std::string PublisherDlg::RateText() {
  return rate_->text().toStdString();
}

void PublisherDlg::SetRateText(const std::string& text) {
  rate_->setText(Text(text));
}

int PublisherDlg::PictureTypeSelection() {
  return pictureTypes_->currentIndex();
}

void PublisherDlg::SelectPictureType(int index) {
  pictureTypes_->setCurrentIndex(index >= 0 && index < pictureTypes_->count() ? index : -1);
}

}  // namespace quillon
