// Small owners for the COM objects and kernel handles of the Windows device backends: a reference
// released when its owner goes, an apartment left when its owner goes, a handle closed likewise.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <string>

namespace quillon {

// One COM reference. Get() lends it; Put() empties it and hands out its address for a call that
// fills it (CoCreateInstance, QueryInterface, ...).
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      ref_ = other.ref_;
      other.ref_ = nullptr;
    }
    return *this;
  }

  Interface* Get() const { return ref_; }
  Interface* operator->() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

  Interface** Put() {
    Reset();
    return &ref_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (ref_ != nullptr) {
      Interface* held = ref_;
      ref_ = nullptr;
      held->Release();
    }
  }

  // Queries the held object for another interface; an empty reference on failure.
  template <typename Other>
  HRESULT As(REFIID iid, ComRef<Other>* other) const {
    if (ref_ == nullptr) return E_POINTER;
    return ref_->QueryInterface(iid, other->PutVoid());
  }

 private:
  Interface* ref_ = nullptr;
};

// COM on the calling thread for the owner's lifetime (single-threaded apartment, as CoInitialize
// makes it). Ok() is false when COM could not be initialised; then nothing is left at the end.
class ComApartment {
 public:
  ComApartment() : result_(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // S_FALSE (already initialised on this thread) counts as success: it is balanced all the same.
  bool Ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// A kernel handle closed with its owner. Null and INVALID_HANDLE_VALUE both mean none.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) {
    if (*this) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// UTF-16 text (a device's friendly name) as UTF-8, the program's text in memory.
inline std::string WideToUtf8(const wchar_t* wide) {
  if (wide == nullptr || wide[0] == L'\0') return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes) - 1);
  return utf8;
}

}  // namespace quillon
