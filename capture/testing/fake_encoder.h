// Test-side access to the recording encoder library (fake_verbena): loads it through the
// program's own loader and reads back what it recorded.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#endif

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/encoder_library.h"
#include "capture/testing/fake_verbena.h"

namespace quillon::testing {

class FakeEncoder {
 public:
  explicit FakeEncoder(const std::string& path = QUILLON_FAKE_VERBENA_PATH)
      : library_(LoadEncoderLibrary(path)) {
    if (!library_) throw std::runtime_error("cannot load " + path);
    Bind(reset_, path, "FakeVerbena_Reset");
    Bind(calls_, path, "FakeVerbena_CopyCalls");
    Bind(params_, path, "FakeVerbena_GetParams");
    Bind(picture_, path, "FakeVerbena_CopyLastPicture");
    Reset();
  }

  const std::shared_ptr<const EncoderLibrary>& Library() const { return library_; }

  void Reset(int startResult = 1, int notifySize = 4096) { reset_(startResult, notifySize); }

  std::vector<FakeVerbenaCall> Calls() const { return Copied(calls_); }

  // The function names of all calls so far, in order.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const FakeVerbenaCall& call : Calls()) names.emplace_back(call.Function);
    return names;
  }

  int Count(const std::string& function) const {
    int n = 0;
    for (const FakeVerbenaCall& call : Calls()) n += function == call.Function;
    return n;
  }

  bool Params(EncoderParams* params) const { return params_(params) != 0; }

  std::vector<uint8_t> LastPicture() const { return Copied(picture_); }

 private:
  // What copy, one of the library's copying exports, copies out.
  template <typename Item>
  static std::vector<Item> Copied(int (*copy)(Item*, int)) {
    std::vector<Item> items;
    size_t n = static_cast<size_t>(copy(nullptr, 0));
    while (n > items.size()) {  // again when more came between asking the size and copying
      items.resize(n);
      n = static_cast<size_t>(copy(items.data(), static_cast<int>(n)));
    }
    items.resize(n);
    return items;
  }

  // Binds slot to an export of the library that library_ keeps loaded.
  template <typename Function>
  static void Bind(Function& slot, const std::string& path, const char* name) {
#if defined(_WIN32)
    HMODULE module = GetModuleHandleW(std::filesystem::path(path).filename().c_str());
    void* found =
        module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
    slot = reinterpret_cast<Function>(found);
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    slot = module != nullptr ? reinterpret_cast<Function>(dlsym(module, name)) : nullptr;
    if (module != nullptr) dlclose(module);  // only the reference just taken
#endif
    if (slot == nullptr) throw std::runtime_error(std::string("fake library lacks ") + name);
  }

  std::shared_ptr<const EncoderLibrary> library_;
  void (*reset_)(int, int) = nullptr;
  int (*calls_)(FakeVerbenaCall*, int) = nullptr;
  int (*params_)(EncoderParams*) = nullptr;
  int (*picture_)(unsigned char*, int) = nullptr;
};

}  // namespace quillon::testing
