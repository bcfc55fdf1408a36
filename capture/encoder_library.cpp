// The parts of the encoder library loader that are the same on every platform.
#include <filesystem>
#include <string>

#include "base/log.h"
#include "capture/encoder_library.h"
#include "capture/encoder_library_loader.h"

namespace quillon {
namespace {

// Resolves name into *slot; false (and, for a required export, a message) when it is missing.
template <typename Function>
bool Resolve(void* module, ExportLookup lookup, const std::string& path, const char* name,
             Function* slot, bool required) {
  void* symbol = lookup(module, name);
  if (symbol == nullptr) {
    if (required) {
      LogError("the encoder library %s has no export %s", path.c_str(), name);
    }
    return false;
  }
  *slot = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

std::shared_ptr<const EncoderLibrary> BindEncoderLibrary(void* module, ExportLookup lookup,
                                                         const std::string& path,
                                                         std::shared_ptr<void> keepAlive) {
  EncoderFunctions f;
  bool complete = true;
  complete &= Resolve(module, lookup, path, "VERBENA_CreateEncoder", &f.CreateEncoder, true);
  complete &= Resolve(module, lookup, path, "VERBENA_Start", &f.Start, true);
  complete &=
      Resolve(module, lookup, path, "VERBENA_GetAudioNofifySize", &f.GetAudioNofifySize, true);
  complete &= Resolve(module, lookup, path, "VERBENA_PutVideoData", &f.PutVideoData, true);
  complete &= Resolve(module, lookup, path, "VERBENA_PutAudioData", &f.PutAudioData, true);
  complete &= Resolve(module, lookup, path, "VERBENA_Stop", &f.Stop, true);
  Resolve(module, lookup, path, "VERBENA_GetStats", &f.GetStats, false);
  Resolve(module, lookup, path, "VERBENA_SetTrustedCA", &f.SetTrustedCA, false);
  if (!complete) return nullptr;
  return std::make_shared<const EncoderLibrary>(f, std::move(keepAlive));
}

void ReportEncoderLibraryLoadFailure(const std::string& path, const std::string& reason) {
  LogError("cannot load the encoder library %s: %s", path.c_str(),
           reason.empty() ? "unknown error" : reason.c_str());
}

std::shared_ptr<const EncoderLibrary> LoadEncoderLibraryFromFolder(
    const std::filesystem::path& folder) {
  const std::u8string path = (folder / EncoderLibraryFileName()).u8string();
  return LoadEncoderLibrary(std::string(path.begin(), path.end()));
}

}  // namespace quillon
