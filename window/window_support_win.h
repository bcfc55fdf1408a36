// Small Win32 helpers of the window: UTF-8 text to and from the wide APIs, and an owning COM
// interface pointer.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace quillon {

// Multibyte text in codePage to UTF-16; invalid sequences become U+FFFD.
inline std::wstring WideFromCodePage(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

// The program's own texts are UTF-8.
inline std::wstring WideFromUtf8(std::string_view text) {
  return WideFromCodePage(text, CP_UTF8);
}

// File paths as the standard library gives them are in the system's ANSI code page.
inline std::wstring WideFromAnsi(std::string_view text) {
  return WideFromCodePage(text, CP_ACP);
}

inline std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

// The text of a window (a control's text, a title) as UTF-8.
inline std::string WindowTextUtf8(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return Utf8FromWide(text);
}

// Holds one reference to a COM interface and releases it.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (pointer_) std::exchange(pointer_, nullptr)->Release();
  }
  T* Get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For the functions that hand out a new reference.
  T** Receive() {
    Reset();
    return &pointer_;
  }
  template <typename U>
  ComPtr<U> As() const {
    ComPtr<U> other;
    if (pointer_) pointer_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(other.Receive()));
    return other;
  }

 private:
  T* pointer_ = nullptr;
};

// Owns a BSTR.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR Get() const { return value_; }

 private:
  BSTR value_;
};

}  // namespace quillon
