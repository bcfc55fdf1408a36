// Windows: the running program owns a named mutex and a message-only window named after the
// folder; a later start finds the window and hands its request over with WM_COPYDATA. A mutex
// whose owner ended is taken over by the next start.
#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "app/single_instance.h"
#include "base/log.h"

namespace quillon {
namespace {

constexpr wchar_t kWindowClass[] = L"QuillonPublisherInstance";
constexpr ULONG_PTR kRequestTag = 0x51504C31;  // "QPL1": a launch request
constexpr UINT kRequestsWaiting = WM_APP + 1;

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());  // the instance name is plain ASCII
}

// true when the window took the request.
bool SendRequest(HWND window, const std::string& request) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  AllowSetForegroundWindow(process);  // its window may come to the front
  COPYDATASTRUCT data = {kRequestTag, static_cast<DWORD>(request.size()),
                         const_cast<char*>(request.data())};
  DWORD_PTR taken = 0;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                             SMTO_ABORTIFHUNG, 5000, &taken) != 0 &&
         taken == TRUE;
}

class Channel final : public InstanceChannel {
 public:
  explicit Channel(const std::string& name) : name_(Wide(name)) {}
  ~Channel() override {
    if (window_) DestroyWindow(window_);
    if (mutex_) {
      if (owned_) ReleaseMutex(mutex_);
      CloseHandle(mutex_);
    }
  }

  bool Claim() override {
    if (!mutex_) {
      mutex_ = CreateMutexW(nullptr, TRUE, (L"Local\\" + name_).c_str());
      if (!mutex_) {
        LogWarning("cannot tell whether the program runs already (error %lu)", GetLastError());
        return true;  // runs as it always did
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) return owned_ = true;
    }
    // Made by another start: ours once its owner has ended.
    const DWORD wait = WaitForSingleObject(mutex_, 0);
    return owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }

  bool HandOver(const std::string& request) override {
    HWND running = FindWindowExW(HWND_MESSAGE, nullptr, kWindowClass, name_.c_str());
    return running && SendRequest(running, request);
  }

  void Listen(std::function<void(const std::string&)> receive) override {
    receive_ = std::move(receive);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Channel::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);  // fails harmlessly when registered already
    window_ = CreateWindowExW(0, kWindowClass, name_.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, this);
    if (!window_) LogWarning("later starts cannot reach this program (error %lu)", GetLastError());
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Channel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data->dwData != kRequestTag || data->cbData > 64 * 1024) return FALSE;
      self->waiting_.emplace_back(static_cast<const char*>(data->lpData), data->cbData);
      // The later start is answered first: the window may now show a message box.
      PostMessageW(window, kRequestsWaiting, 0, 0);
      return TRUE;
    }
    if (self && message == kRequestsWaiting) {
      while (!self->waiting_.empty()) {
        const std::string request = std::move(self->waiting_.front());
        self->waiting_.pop_front();
        if (self->receive_) self->receive_(request);
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  const std::wstring name_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
  HWND window_ = nullptr;
  std::deque<std::string> waiting_;
  std::function<void(const std::string&)> receive_;
};

}  // namespace

std::unique_ptr<InstanceChannel> MakeInstanceChannel(const std::string& name) {
  return std::make_unique<Channel>(name);
}

}  // namespace quillon
