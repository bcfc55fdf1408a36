// The encoder library, reached only through its exported VERBENA_ functions. The library is
// loaded at run time from the program's folder by file name; the loaded functions stay valid
// as long as any EncoderLibrary that holds them exists.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "verbena/verbena.h"

namespace quillon {

struct EncoderFunctions {
  void* (*CreateEncoder)(const EncoderParams* params) = nullptr;
  int (*Start)(void* handle) = nullptr;
  int (*GetAudioNofifySize)(void* handle) = nullptr;
  int (*PutVideoData)(void* handle, const unsigned char* data, int length) = nullptr;
  int (*PutAudioData)(void* handle, const unsigned char* data, int length) = nullptr;
  int (*Stop)(void* handle) = nullptr;
  int (*GetStats)(void* handle, VerbenaStats* stats) = nullptr;      // optional export
  int (*SetTrustedCA)(void* handle, const char* pemPath) = nullptr;  // optional export
};

class EncoderLibrary {
 public:
  // keepAlive owns whatever keeps the functions callable (the loaded module); it is released
  // with the last EncoderLibrary that shares it.
  EncoderLibrary(const EncoderFunctions& functions, std::shared_ptr<void> keepAlive)
      : functions_(functions), keepAlive_(std::move(keepAlive)) {}

  const EncoderFunctions& Functions() const { return functions_; }

 private:
  EncoderFunctions functions_;
  std::shared_ptr<void> keepAlive_;
};

// The file name of the library in the program's folder on this platform.
const char* EncoderLibraryFileName();

// Loads the encoder library at path. Returns nullptr when the file cannot be loaded or one of the
// six required functions is missing, after saying on stderr which file or export it was.
std::shared_ptr<const EncoderLibrary> LoadEncoderLibrary(const std::string& path);

// Loads EncoderLibraryFileName() from folder, the program's folder.
std::shared_ptr<const EncoderLibrary> LoadEncoderLibraryFromFolder(
    const std::filesystem::path& folder);

}  // namespace quillon
