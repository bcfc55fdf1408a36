// Loading the encoder library with dlopen.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/encoder_library.h"

namespace quillon {
namespace {

// Resolves name into *slot; false (and a message) when the library lacks it.
template <typename Function>
bool Resolve(void* module, const std::string& path, const char* name, Function* slot,
             bool required) {
  dlerror();
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    if (required) {
      std::fprintf(stderr, "quillon-publisher: the encoder library %s has no export %s\n",
                   path.c_str(), name);
    }
    return false;
  }
  *slot = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

const char* EncoderLibraryFileName() {
  return "libverbena.so";
}

std::shared_ptr<const EncoderLibrary> LoadEncoderLibrary(const std::string& path) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    std::fprintf(stderr, "quillon-publisher: cannot load the encoder library %s: %s\n",
                 path.c_str(), reason != nullptr ? reason : "unknown error");
    return nullptr;
  }
  std::shared_ptr<void> keepAlive(module, [](void* m) { dlclose(m); });

  EncoderFunctions f;
  bool complete = true;
  complete &= Resolve(module, path, "VERBENA_CreateEncoder", &f.CreateEncoder, true);
  complete &= Resolve(module, path, "VERBENA_Start", &f.Start, true);
  complete &= Resolve(module, path, "VERBENA_GetAudioNofifySize", &f.GetAudioNofifySize, true);
  complete &= Resolve(module, path, "VERBENA_PutVideoData", &f.PutVideoData, true);
  complete &= Resolve(module, path, "VERBENA_PutAudioData", &f.PutAudioData, true);
  complete &= Resolve(module, path, "VERBENA_Stop", &f.Stop, true);
  Resolve(module, path, "VERBENA_GetStats", &f.GetStats, false);
  if (!complete) return nullptr;
  return std::make_shared<const EncoderLibrary>(f, std::move(keepAlive));
}

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  std::string path(buffer.data(), static_cast<size_t>(length));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::shared_ptr<const EncoderLibrary> LoadEncoderLibraryFromProgramFolder() {
  return LoadEncoderLibrary(ProgramFolder() + "/" + EncoderLibraryFileName());
}

}  // namespace quillon
