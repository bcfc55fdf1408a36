// The classroom page host on Windows: the web browser control (IWebBrowser2), hosted through the
// system's ATL control window, showing the page file beside the program as an HTML page whatever
// its name ends in.
//
// The page's side of it is the same as on Linux: every SetVariable arrives, in call order and only
// once the page has loaded, as a "quillonvariable" event on window whose detail is {name, value};
// the current values are also kept in window.quillonVariables. Play arrives as "quillonplay".
#pragma once

#include <windows.h>

#include <exdisp.h>
#include <mshtml.h>

#include <string>
#include <utility>
#include <vector>

#include "window/classroom_page.h"
#include "window/window_support_win.h"

namespace quillon {

class CShockwaveFlash : public ClassroomPage {
 public:
  CShockwaveFlash() = default;
  ~CShockwaveFlash() override;
  CShockwaveFlash(const CShockwaveFlash&) = delete;
  CShockwaveFlash& operator=(const CShockwaveFlash&) = delete;

  // Creates the control in place of the parent's child window with this id, taking over its
  // rectangle and id. false when the system cannot host the control: the place stays as it was
  // and the page calls do nothing but wait.
  bool Create(HWND parent, int id);

  void LoadMovie(int32_t layer, const std::string& path) override;
  void Play() override;
  void SetVariable(const std::string& name, const std::string& value) override;

  // Gives a key message meant for the page to the browser first (its own shortcuts, Tab between
  // its links and fields); true when the browser has taken it.
  bool TranslateKey(MSG& message);

  HWND Window() const { return host_; }
  bool HasBrowser() const { return static_cast<bool>(browser_); }
  // True once the page has loaded; calls made before then have been delivered.
  bool IsPageReady() const { return state_ == State::kReady; }
  // Every variable the page was given, in call order, delivered or still waiting.
  const std::vector<std::pair<std::string, std::string>>& Variables() const { return variables_; }
  size_t WaitingScripts() const { return pending_.size(); }

 protected:
  // The browser's side, one step each; the tests put a page of their own in its place.
  virtual bool OpenBlankDocument();
  virtual bool BrowserIdle();
  virtual bool WritePage(const std::string& page);
  virtual bool PageComplete();
  virtual bool RunScript(const std::wstring& script);
  // One look at the page: the next loading step, then the waiting scripts in order. Runs on a
  // timer while the page loads or holds scripts it refused.
  void Poll();

 private:
  enum class State { kNoPage, kBlank, kLoading, kReady };

  static void CALLBACK PollTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
  void StartPolling();
  void Deliver(const std::wstring& script);
  ComPtr<IHTMLDocument2> Document() const;

  HWND host_ = nullptr;
  ComPtr<IWebBrowser2> browser_;
  State state_ = State::kNoPage;
  std::string page_;
  std::vector<std::wstring> pending_;
  std::vector<std::pair<std::string, std::string>> variables_;
};

// text as a JavaScript string literal, quotes included.
std::wstring JavaScriptString(const std::wstring& text);

}  // namespace quillon
