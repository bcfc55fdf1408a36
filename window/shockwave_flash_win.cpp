#include "window/shockwave_flash_win.h"

#include <mshtml.h>
#include <ocidl.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/ansi_text.h"
#include "base/atomic_file.h"

namespace quillon {
namespace {

constexpr wchar_t kSelfProperty[] = L"QuillonClassroomPage";
constexpr UINT_PTR kPollTimerId = 0x5157;
constexpr UINT kPollMilliseconds = 100;
// The page file is small; a larger file is not a page.
constexpr std::uintmax_t kLargestPage = 2 * 1024 * 1024;
constexpr char kEmptyPage[] = "<!DOCTYPE html><html><head></head><body></body></html>";
// CLSID_WebBrowser: the ATL window creates the control named by its window text.
constexpr wchar_t kWebBrowserClass[] = L"{8856F961-340A-11D0-A96B-00C04FD705A2}";

using AtlAxWinInitFunction = BOOL(WINAPI*)();
using AtlAxGetControlFunction = HRESULT(WINAPI*)(HWND, IUnknown**);

// The system's ATL control host, loaded once for the process and kept.
struct AtlHost {
  AtlAxGetControlFunction GetControl = nullptr;
  bool Ready = false;
};

const AtlHost& TheAtlHost() {
  static const AtlHost host = [] {
    AtlHost loaded;
    HMODULE atl = LoadLibraryW(L"atl.dll");
    if (!atl) return loaded;
    auto init = reinterpret_cast<AtlAxWinInitFunction>(
        reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    loaded.GetControl = reinterpret_cast<AtlAxGetControlFunction>(
        reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    loaded.Ready = init && loaded.GetControl && init();
    return loaded;
  }();
  return host;
}

// The page as the browser gets it: a byte-order mark so that it is read as UTF-8, and a request
// for the browser's newest engine (the control otherwise shows pages as a browser of 2006 did).
std::string PrepareDocument(std::string html) {
  const size_t head = [&html] {
    for (size_t i = 0; i + 6 <= html.size(); ++i) {
      if (html[i] == '<' && _strnicmp(html.c_str() + i, "<head>", 6) == 0) return i + 6;
    }
    return std::string::npos;
  }();
  if (head != std::string::npos) {
    html.insert(head, "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">");
  }
  if (html.compare(0, 3, "\xEF\xBB\xBF") != 0) html.insert(0, "\xEF\xBB\xBF");
  return html;
}

std::string ReadPage(const std::wstring& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  std::string page, why;
  if (error || size > kLargestPage || ReadWholeFile(path, page, why) != FileRead::kRead ||
      page.size() > kLargestPage) {
    return kEmptyPage;
  }
  return page;
}

}  // namespace

std::wstring JavaScriptString(const std::wstring& text) {
  std::wstring quoted = L"\"";
  for (const wchar_t c : text) {
    switch (c) {
      case L'"':
        quoted += L"\\\"";
        break;
      case L'\\':
        quoted += L"\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x2028 || c == 0x2029 || c == L'<' || c == L'>') {
          wchar_t escaped[8];
          std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  quoted += L'"';
  return quoted;
}

CShockwaveFlash::~CShockwaveFlash() {
  if (host_) {
    KillTimer(host_, kPollTimerId);
    RemovePropW(host_, kSelfProperty);
  }
  browser_.Reset();
}

bool CShockwaveFlash::Create(HWND parent, int id) {
  const AtlHost& atl = TheAtlHost();
  HWND place = GetDlgItem(parent, id);
  if (!atl.Ready || !place) return false;
  RECT rect;
  GetWindowRect(place, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  HWND host =
      CreateWindowExW(0, L"AtlAxWin", kWebBrowserClass,
                      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP,
                      rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                      nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!host) return false;
  ComPtr<IUnknown> control;
  if (FAILED(atl.GetControl(host, control.Receive())) || !control) {
    DestroyWindow(host);
    return false;
  }
  browser_ = control.As<IWebBrowser2>();
  if (!browser_) {
    DestroyWindow(host);
    return false;
  }
  // The control takes the place's id and its place in the tab order.
  SetWindowPos(host, place, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  DestroyWindow(place);
  SetWindowLongPtrW(host, GWLP_ID, id);
  host_ = host;
  browser_->put_Silent(VARIANT_TRUE);
  browser_->put_RegisterAsDropTarget(VARIANT_FALSE);
  SetPropW(host_, kSelfProperty, this);
  return true;
}

bool CShockwaveFlash::TranslateKey(MSG& message) {
  if (!browser_ || message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  if (message.hwnd != host_ && !IsChild(host_, message.hwnd)) return false;
  ComPtr<IOleInPlaceActiveObject> active = browser_.As<IOleInPlaceActiveObject>();
  return active && active->TranslateAccelerator(&message) == S_OK;
}

void CShockwaveFlash::LoadMovie(int32_t /*layer*/, const std::string& path) {
  page_ = PrepareDocument(ReadPage(WideFromAnsi(path)));
  state_ = State::kNoPage;
  // The page is written into a blank document once the browser has one: the file's name does
  // not say it is HTML, the document type does.
  if (!OpenBlankDocument()) return;
  state_ = State::kBlank;
  StartPolling();
}

void CShockwaveFlash::Play() {
  Deliver(
      L"(function () { var e = document.createEvent('CustomEvent');"
      L" e.initCustomEvent('quillonplay', false, false, null); window.dispatchEvent(e); })();");
}

void CShockwaveFlash::SetVariable(const std::string& name, const std::string& value) {
  variables_.emplace_back(name, value);
  Deliver(
      L"(function (name, value) {"
      L" var all = window.quillonVariables = window.quillonVariables || {};"
      L" all[name] = value;"
      L" var e = document.createEvent('CustomEvent');"
      L" e.initCustomEvent('quillonvariable', false, false, {name: name, value: value});"
      L" window.dispatchEvent(e); })(" +
      JavaScriptString(AnsiToWide(name)) + L", " + JavaScriptString(AnsiToWide(value)) + L");");
}

void CShockwaveFlash::Deliver(const std::wstring& script) {
  if (state_ == State::kReady && pending_.empty() && RunScript(script)) return;
  pending_.push_back(script);
  // A ready page that refused a script gets it again at the next tick.
  if (state_ == State::kReady) StartPolling();
}

void CShockwaveFlash::StartPolling() {
  if (host_) SetTimer(host_, kPollTimerId, kPollMilliseconds, &CShockwaveFlash::PollTimer);
}

void CALLBACK CShockwaveFlash::PollTimer(HWND window, UINT, UINT_PTR, DWORD) {
  if (auto* self = static_cast<CShockwaveFlash*>(GetPropW(window, kSelfProperty))) self->Poll();
}

void CShockwaveFlash::Poll() {
  if (state_ == State::kBlank) {
    if (BrowserIdle() && WritePage(page_)) state_ = State::kLoading;
    return;
  }
  if (state_ == State::kLoading) {
    if (!BrowserIdle() || !PageComplete()) return;
    state_ = State::kReady;
  }
  if (state_ != State::kReady) return;
  // Delivered in call order; a script the page refuses now is tried again at the next tick.
  while (!pending_.empty() && RunScript(pending_.front())) pending_.erase(pending_.begin());
  if (pending_.empty() && host_) KillTimer(host_, kPollTimerId);
}

bool CShockwaveFlash::OpenBlankDocument() {
  if (!browser_) return false;
  Bstr blank(L"about:blank");
  VARIANT empty;
  VariantInit(&empty);
  return SUCCEEDED(browser_->Navigate(blank.Get(), &empty, &empty, &empty, &empty));
}

bool CShockwaveFlash::BrowserIdle() {
  READYSTATE ready = READYSTATE_UNINITIALIZED;
  return browser_ && SUCCEEDED(browser_->get_ReadyState(&ready)) && ready == READYSTATE_COMPLETE;
}

ComPtr<IHTMLDocument2> CShockwaveFlash::Document() const {
  ComPtr<IDispatch> dispatch;
  if (!browser_ || FAILED(browser_->get_Document(dispatch.Receive())) || !dispatch) return {};
  return dispatch.As<IHTMLDocument2>();
}

bool CShockwaveFlash::WritePage(const std::string& page) {
  ComPtr<IHTMLDocument2> document = Document();
  ComPtr<IPersistStreamInit> persist = document.As<IPersistStreamInit>();
  if (!persist) return false;
  ComPtr<IStream> stream;
  *stream.Receive() =
      SHCreateMemStream(reinterpret_cast<const BYTE*>(page.data()), static_cast<UINT>(page.size()));
  if (!stream) return false;
  return SUCCEEDED(persist->InitNew()) && SUCCEEDED(persist->Load(stream.Get()));
}

bool CShockwaveFlash::PageComplete() {
  ComPtr<IHTMLDocument2> document = Document();
  BSTR readyState = nullptr;
  if (!document || FAILED(document->get_readyState(&readyState)) || !readyState) return false;
  const bool complete = std::wstring(readyState) == L"complete";
  SysFreeString(readyState);
  return complete;
}

bool CShockwaveFlash::RunScript(const std::wstring& script) {
  ComPtr<IHTMLDocument2> document = Document();
  ComPtr<IHTMLWindow2> window;
  if (!document || FAILED(document->get_parentWindow(window.Receive())) || !window) return false;
  Bstr code(script);
  Bstr language(L"JScript");
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = window->execScript(code.Get(), language.Get(), &result);
  VariantClear(&result);
  return SUCCEEDED(hr);
}

}  // namespace quillon
