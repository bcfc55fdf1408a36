#include "window/shockwave_flash.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTimer>
#include <QUrl>
#include <QWebEngineSettings>
#include <cstdlib>
#include <cstring>

#include "base/log.h"

namespace quillon {
namespace {

// setContent takes at most this much; the page is far smaller.
constexpr qint64 kLargestPage = 2 * 1024 * 1024 - 1024;

// What the engine and Qt say in Qt's default category that is no news: the engine when the
// program turned its sandbox off, both (with X11, at start) when nothing draws with OpenGL.
constexpr const char* kExpectedNotes[] = {
    "Sandboxing disabled by user.",
    "No suitable graphics backend found",
    "QXcbIntegration: Cannot create platform OpenGL context, neither GLX nor EGL are enabled",
};

QString Arguments(const QJsonArray& values) {
  return QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact));
}

}  // namespace

void CShockwaveFlash::QuietEngineLogs() {
  const char* wanted = std::getenv("QUILLON_WEBENGINE_LOG");
  if (wanted != nullptr && *wanted != '\0' && std::string(wanted) != "0") return;
  // Chromium: fatal errors only. Flags the operator set stay.
  if (std::getenv("QTWEBENGINE_CHROMIUM_FLAGS") == nullptr)
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3", 1);
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webengine*=false\njs=false"));
  static const QtMessageHandler previous = qInstallMessageHandler(nullptr);
  qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        for (const char* expected : kExpectedNotes) {
          if (text.trimmed() == QLatin1String(expected)) return;
        }
        if (previous != nullptr) previous(type, context, text);
      });
}

void CShockwaveFlash::DrawInSoftware() {
  const char* chosen = std::getenv("QT_QUICK_BACKEND");
  if (chosen == nullptr || *chosen == '\0') setenv("QT_QUICK_BACKEND", "software", 1);
  if (std::strcmp(std::getenv("QT_QUICK_BACKEND"), "software") == 0) {
    // The web engine then draws without OpenGL too (Chromium's software compositing), and on X11
    // nothing asks for OpenGL at all. An operator's QT_XCB_GL_INTEGRATION stays.
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
  } else {
    // OpenGL's way: the page's contexts share with the window's.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  }
}

CShockwaveFlash::CShockwaveFlash(QWidget* parent) : QWebEngineView(parent) {
  setContextMenuPolicy(Qt::NoContextMenu);
  // The page is local and needs nothing from the network.
  settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
    LogTiming("page loaded");
    if (QWidget* drawing = focusProxy()) drawing->installEventFilter(this);
    ready_ = true;
    std::vector<QString> waiting;
    waiting.swap(pending_);
    for (const QString& script : waiting) page()->runJavaScript(script);
  });
}

bool CShockwaveFlash::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint) {
    LogTiming("page painted");
    watched->removeEventFilter(this);
    // Once this paint is done and on the screen.
    if (drawn_) QTimer::singleShot(0, this, drawn_);
  }
  return QWebEngineView::eventFilter(watched, event);
}

void CShockwaveFlash::LoadMovie(int32_t /*layer*/, const std::string& path) {
  ready_ = false;
  const QString file = QString::fromStdString(path);
  QByteArray html = "<!DOCTYPE html><html><body></body></html>";
  QFile movie(file);
  if (movie.open(QIODevice::ReadOnly) && movie.size() <= kLargestPage) html = movie.readAll();
  // The file's name does not say it is HTML: the type is given here.
  setContent(html, QStringLiteral("text/html;charset=UTF-8"),
             QUrl::fromLocalFile(QFileInfo(file).absolutePath() + QLatin1Char('/')));
}

void CShockwaveFlash::Play() {
  Deliver(QStringLiteral("window.dispatchEvent(new CustomEvent('quillonplay'));"));
}

void CShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  const QJsonArray arguments{QString::fromStdString(name), QString::fromStdString(value)};
  Deliver(QStringLiteral("(function (name, value) {"
                         "  var all = window.quillonVariables = window.quillonVariables || {};"
                         "  all[name] = value;"
                         "  window.dispatchEvent(new CustomEvent('quillonvariable',"
                         "                       {detail: {name: name, value: value}}));"
                         "}).apply(null, %1);")
              .arg(Arguments(arguments)));
}

void CShockwaveFlash::Deliver(const QString& script) {
  if (ready_) {
    page()->runJavaScript(script);
  } else {
    pending_.push_back(script);
  }
}

}  // namespace quillon
