// The window's Qt side on the offscreen platform: the classroom page host with a real Qt WebEngine,
// the shipped classroom page, the skin, and the main window's widgets and input filter.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWebEnginePage>
#include <cstdlib>
#include <functional>
#include <thread>

#include "base/program_folder.h"
#include "base/testing/test_folder.h"
#include "base/testing/wait_for.h"
#include "devices/device_messages.h"
#include "window/about_dlg.h"
#include "window/dialog_units_qt.h"
#include "window/message_box_qt.h"
#include "window/publisher_dlg_qt.h"
#include "window/shockwave_flash.h"
#include "window/skin_qt.h"
#include "window/testing/window_fakes.h"

namespace quillon {
namespace {

// Waits with the event loop running, so the page's processes can answer.
bool WaitWithEvents(const std::function<bool()>& done) {
  return quillon::WaitFor(done, std::chrono::seconds(20),
                          [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); });
}

QVariant Evaluate(CShockwaveFlash& view, const QString& script) {
  QVariant result;
  bool finished = false;
  view.page()->runJavaScript(script, [&](const QVariant& value) {
    result = value;
    finished = true;
  });
  EXPECT_TRUE(WaitWithEvents([&] { return finished; })) << script.toStdString();
  return result;
}

QString ProgramFile(const char* name) {
  const char* folder = std::getenv("QUILLON_PROGRAM_DIR");
  return QDir(folder ? folder : ".").filePath(QLatin1String(name));
}

TEST(CShockwaveFlashTest, VariablesSetEarlyArriveInOrderAfterTheHtmlPageLoads) {
  // A page file named like a library: it must still be shown as HTML.
  TestFolder folder;
  const std::string path = (folder / "page.dll").string();
  TestFolder::Write(
      path,
      "<!DOCTYPE html><html><body><script>window.seen = [];"
      "addEventListener('quillonvariable', e => seen.push(e.detail.name + '=' + e.detail.value));"
      "addEventListener('quillonplay', () => seen.push('play'));</script></body></html>");

  CShockwaveFlash view;
  view.resize(400, 300);
  view.SetVariable("early", "1");
  view.LoadMovie(0, path);
  view.Play();
  view.SetVariable("meetingid", "12'\"\\</script>\n中文");
  ASSERT_TRUE(WaitWithEvents([&] { return view.IsPageReady(); }));
  view.SetVariable("late", "");
  EXPECT_EQ(Evaluate(view, QStringLiteral("seen.join('|')")).toString(),
            QStringLiteral("early=1|play|meetingid=12'\"\\</script>\n中文|late="));
  EXPECT_EQ(Evaluate(view, QStringLiteral("document.contentType")).toString(),
            QStringLiteral("text/html"));
  EXPECT_EQ(Evaluate(view, QStringLiteral("window.quillonVariables.early")).toString(),
            QStringLiteral("1"));

  // A missing page file leaves an empty page.
  view.LoadMovie(0, "/nonexistent/Tindlekit.dll");
  view.SetVariable("meetingid", "1");
  ASSERT_TRUE(WaitWithEvents([&] { return view.IsPageReady(); }));
  EXPECT_EQ(Evaluate(view, QStringLiteral("document.body.textContent")).toString(), QString());
}

TEST(ClassroomPageTest, ShowsClassIdAndWhetherTheClassIsLive) {
  CShockwaveFlash view;
  view.resize(800, 600);
  view.LoadMovie(0, ProgramFile("Tindlekit.dll").toStdString());
  view.Play();
  view.SetVariable("isOMB", "true");
  view.SetVariable("meetingid", "20140102");
  ASSERT_TRUE(WaitWithEvents([&] { return view.IsPageReady(); }));
  const QString idText = QStringLiteral("document.getElementById('classId').textContent");
  const QString stateText = QStringLiteral("document.getElementById('state').textContent");
  EXPECT_EQ(Evaluate(view, idText).toString(), QStringLiteral("20140102"));
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("未上课"));
  view.SetVariable("currentStreamName", "rtmp://127.0.0.1/live/20140102");
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("正在直播"));
  // The state of the connection, when the program tells it, has the last word while live.
  view.ShowClassState("reconnecting");
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("连接中断，正在重新连接"));
  view.ShowClassState("refused");
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("服务器拒绝了直播"));
  view.ShowClassState("live");
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("正在直播"));
  view.SetVariable("currentStreamName", "");
  EXPECT_EQ(Evaluate(view, stateText).toString(), QStringLiteral("未上课"));
}

// Qt's own dialogs speak Chinese once its texts are loaded (main loads them).
TEST(MessageBoxTest, StandardButtonsReadChinese) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), QStringLiteral("?"), QMessageBox::Ok);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
}

TEST(SkinTest, AppliesReadableStyleSheetAndClearsIt) {
  TestFolder folder;
  const QString sheet = QStringLiteral("QDialog { background: #123456; }");
  TestFolder::Write(folder / "face.dll", sheet.toStdString());
  ASSERT_TRUE(StartSkin((folder / "face.dll").string()));
  EXPECT_EQ(qApp->styleSheet(), sheet);
  EXPECT_FALSE(StartSkin((folder / "missing.dll").string()));
  EXPECT_FALSE(StartSkin(folder.path().string()));  // a folder is no style sheet
  EXPECT_EQ(qApp->styleSheet(), sheet);
  RemoveSkin();
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

template <typename T>
T* Control(QWidget& window, const char* id) {
  T* control = window.findChild<T*>(QLatin1String(id));
  EXPECT_NE(control, nullptr) << id;
  return control;
}

TEST(PublisherDlgTest, ControlsSitWhereTheTemplatePutsThemAndDoTheirJobs) {
  FakeStore store;
  FakeSessions sessions;
  FakeDevices devices;
  PublisherDlg window(store, sessions, devices, ProgramFolder());
  const DialogUnits du(DialogFont());
  EXPECT_EQ(window.size(), QSize(du.X(638), du.Y(385)));  // with the status line
  auto* status = Control<QLabel>(window, "status");
  EXPECT_EQ(status->geometry(), du.Rect(6, 370, 625, 10));
  EXPECT_EQ(Control<QWidget>(window, "1048")->geometry(), du.Rect(171, 7, 460, 347));
  EXPECT_EQ(Control<QWidget>(window, "1046")->geometry(), du.Rect(6, 237, 153, 117));
  EXPECT_EQ(Control<QWidget>(window, "1056")->geometry(), du.Rect(51, 183, 31, 14));
  auto* types = Control<QComboBox>(window, "1057");
  ASSERT_EQ(types->count(), 4);
  EXPECT_EQ(types->itemText(3), QStringLiteral("画中画（大画面是摄像头）"));

  // Start-up of the window as DoModal does it, without the modal loop.
  auto* start = Control<QPushButton>(window, "1012");
  auto* end = Control<QPushButton>(window, "1043");
  auto* rate = Control<QLineEdit>(window, "1056");
  QString shownText;
  QTimer::singleShot(0, &window, [&] {
    // The title: tests/window_e2e.sh.
    EXPECT_EQ(Control<QComboBox>(window, "1053")->currentIndex(), 1);
    EXPECT_EQ(Control<QComboBox>(window, "1055")->currentIndex(), 1);
    EXPECT_TRUE(Control<QCheckBox>(window, "1044")->isChecked());
    EXPECT_EQ(rate->text(), QStringLiteral("500"));
    EXPECT_EQ(types->currentIndex(), 2);
    EXPECT_TRUE(start->isVisible());
    EXPECT_FALSE(end->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("未上课 · 上课后发布到 127.0.0.1:1935"));
    // A screen narrower than the window (the test's is 800 wide): the page gives up the room,
    // the controls on the left stay where the template puts them.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(screen.width(), du.X(638));
    EXPECT_LE(window.width() + 16, screen.width());
    EXPECT_GE(window.x(), screen.x());
    EXPECT_EQ(Control<QWidget>(window, "1048")->width(), du.X(460) - (du.X(638) - window.width()));
    EXPECT_EQ(Control<QWidget>(window, "1046")->geometry(), du.Rect(6, 237, 153, 117));
    rate->setText(QStringLiteral("800"));  // read back from the box at the start
    start->click();
    // The connection is made on a thread of its own: the window says so and goes on.
    EXPECT_EQ(status->text(), QStringLiteral("正在连接 127.0.0.1:1935…"));
    EXPECT_EQ(store.written, CallLog{"Bitrate=800"});
    EXPECT_TRUE(end->isVisible() && end->isEnabled());
    EXPECT_FALSE(start->isVisible() || start->isEnabled());
    const auto events = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); };
    ASSERT_TRUE(WaitFor([&] { return status->text() == QStringLiteral("正在直播 00:00"); },
                        std::chrono::seconds(10), events));
    EXPECT_EQ(sessions.LastEvent(), "capture 1 preview " + std::to_string(window.PreviewArea()));
    // 下课 right after 上课 is the second click of a double-click: the class goes on.
    end->click();
    EXPECT_EQ(sessions.LastEvent().rfind("capture 1", 0), 0u);

    // Enter and Escape never end the window; a right press never reaches the page.
    QWidget* page = Control<QWidget>(window, "1048");
    QWidget* pageInput = page->focusProxy() ? page->focusProxy() : page;
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(&window, &press);
      QKeyEvent onRate(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(rate, &onRate);
    }
    EXPECT_TRUE(window.isVisible());
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    EXPECT_TRUE(window.eventFilter(pageInput, &right));
    QMouseEvent left(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    EXPECT_FALSE(window.eventFilter(pageInput, &left));

    WaitFor([] { return false; }, std::chrono::milliseconds(QApplication::doubleClickInterval()),
            events);
    end->click();
    EXPECT_EQ(sessions.LastEvent(), "stop 1");
    EXPECT_TRUE(start->isVisible());

    // What the sound worker reports from its own thread: it goes on at once, and the box shows
    // on the window's thread with the program's caption.
    QString boxText, boxTitle;
    QTimer answer;  // runs inside the box's own loop
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxText = box->text();
        boxTitle = box->windowTitle();
        box->accept();
      }
    });
    answer.start(20);
    std::thread([] { ShowUserMessage("Error handling PulseAudio notifications."); }).join();
    EXPECT_TRUE(WaitFor([&] { return !boxText.isEmpty(); }, std::chrono::seconds(10), events));
    answer.stop();
    EXPECT_EQ(boxText, QStringLiteral("Error handling PulseAudio notifications."));
    EXPECT_EQ(boxTitle, ApplicationTitle());

    // The menu button's menu ends with the about entry.
    auto* menuButton = Control<QPushButton>(window, "SystemMenu");
    ASSERT_NE(menuButton->menu(), nullptr);
    const QList<QAction*> entries = menuButton->menu()->actions();
    ASSERT_GE(entries.size(), 2);
    EXPECT_TRUE(entries[entries.size() - 2]->isSeparator());
    EXPECT_EQ(entries.back()->text(), QStringLiteral("关于(&A)..."));
    // The about box runs modally: look at it from inside its loop, then close it.
    QTimer::singleShot(0, &window, [&] {
      QWidget* about = QApplication::activeModalWidget();
      ASSERT_NE(about, nullptr);
      EXPECT_EQ(about->windowTitle(), QStringLiteral("关于"));
      if (auto* text = about->findChild<QLabel*>(QStringLiteral("1057"))) {
        shownText = text->text();
        // All of the text inside its frame, and the frame inside the box.
        EXPECT_GE(text->height(), text->heightForWidth(text->width()));
        EXPECT_LE(text->geometry().bottom(), about->height());
      }
      static_cast<QDialog*>(about)->accept();
    });
    entries.back()->trigger();
    // Once the page is there, the next class's encoder library is readied, once.
    EXPECT_TRUE(WaitFor([&] { return sessions.prepared > 0; }, std::chrono::seconds(20), events));
    EXPECT_EQ(sessions.prepared, 1);
    window.done(QDialog::Accepted);
  });
  // The message box of closing is not part of this test: the window ends by done().
  window.DoModal();
  EXPECT_EQ(shownText, AboutDlg::ProductText());
  EXPECT_EQ(sessions.alive, 0);
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  quillon::CShockwaveFlash::DrawInSoftware();
  QApplication application(argc, argv);
  quillon::LoadQtChineseTexts();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
