// Loading the encoder library with dlopen.
#include <dlfcn.h>

#include <string>

#include "capture/encoder_library.h"
#include "capture/encoder_library_loader.h"

namespace quillon {

const char* EncoderLibraryFileName() {
  return "libverbena.so";
}

std::shared_ptr<const EncoderLibrary> LoadEncoderLibrary(const std::string& path) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    ReportEncoderLibraryLoadFailure(path, reason != nullptr ? reason : "");
    return nullptr;
  }
  std::shared_ptr<void> keepAlive(module, [](void* m) { dlclose(m); });
  return BindEncoderLibrary(
      module, [](void* m, const char* name) { return dlsym(m, name); }, path, std::move(keepAlive));
}

}  // namespace quillon
