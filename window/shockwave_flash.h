// The classroom page host: a web view that loads the page file beside the program (an HTML page,
// whatever its name ends in) and hands it variables.
//
// The page's side of it: every SetVariable arrives, in call order and only once the page has
// loaded, as a "quillonvariable" event on window whose detail is {name, value} (both text); the
// current values are also kept in window.quillonVariables. Play arrives as a "quillonplay" event.
#pragma once

#include <QString>
#include <QWebEngineView>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "window/classroom_page.h"

namespace quillon {

class CShockwaveFlash : public QWebEngineView, public ClassroomPage {
 public:
  explicit CShockwaveFlash(QWidget* parent = nullptr);

  // Keeps the web engine's own diagnostics (its start-up report, Chromium's log, the page's
  // console) off standard error, where they would bury the program's messages; with
  // QUILLON_WEBENGINE_LOG=1 they are left as they are. Call before the application object exists.
  static void QuietEngineLogs();

  // Has the page drawn by the processor, which a still page loses nothing by, so that no OpenGL is
  // loaded or probed at start: on a display without a graphics chip, Mesa's software OpenGL
  // (loaded for the shared context, the page's compositing and the window's) took a third of the
  // processor time from start to the drawn page. A backend the operator set in QT_QUICK_BACKEND
  // stays, with what OpenGL needs. Call before the application object exists.
  static void DrawInSoftware();

  void LoadMovie(int32_t layer, const std::string& path) override;
  void Play() override;
  void SetVariable(const std::string& name, const std::string& value) override;

  // True once the page has loaded; calls made before then have been delivered.
  bool IsPageReady() const { return ready_; }

  // Calls drawn once the loaded page has been painted for the first time (after each load).
  void WhenDrawn(std::function<void()> drawn) { drawn_ = std::move(drawn); }

  // Sees the first paint of the loaded page.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Deliver(const QString& script);

  bool ready_ = false;
  std::vector<QString> pending_;
  std::function<void()> drawn_;
};

}  // namespace quillon
