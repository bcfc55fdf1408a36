// The exported C functions. Handles are never released (Stop is the last call, and callbacks in
// flight may still arrive after it), so a handle is checked against the set of handles this
// library made: a null or foreign pointer makes every call harmless.
#include "verbena/verbena.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "verbena/encoder.h"
#include "verbena/log.h"

namespace verbena {
namespace {

class HandleTable {
 public:
  static HandleTable& Instance() {
    static HandleTable* table = new HandleTable;  // never destroyed: late calls at exit find it
    return *table;
  }
  void Add(Encoder* encoder) {
    std::lock_guard lock(mutex_);
    handles_.insert(encoder);
  }
  Encoder* Find(void* handle) {
    if (handle == nullptr) return nullptr;
    std::lock_guard lock(mutex_);
    return handles_.count(handle) != 0 ? static_cast<Encoder*>(handle) : nullptr;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<void*> handles_;
};

}  // namespace
}  // namespace verbena

using verbena::Encoder;
using verbena::HandleTable;

extern "C" {

VERBENA_API void* VERBENA_CreateEncoder(const EncoderParams* params) {
  if (params == nullptr) {
    verbena::Log("CreateEncoder: no parameters");
    return nullptr;
  }
  auto* encoder = new (std::nothrow) Encoder(*params);
  if (encoder != nullptr) HandleTable::Instance().Add(encoder);
  return encoder;
}

VERBENA_API int VERBENA_Start(void* handle) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  if (encoder == nullptr) {
    verbena::Log("Start: not an encoder handle");
    return 0;
  }
  return encoder->Start();
}

VERBENA_API int VERBENA_GetAudioNofifySize(void* handle) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->SoundNotifySize() : 0;
}

VERBENA_API int VERBENA_PutVideoData(void* handle, const unsigned char* data, int length) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->PutVideo(data, length) : 0;
}

VERBENA_API int VERBENA_PutAudioData(void* handle, const unsigned char* data, int length) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->PutAudio(data, length) : 0;
}

VERBENA_API int VERBENA_Stop(void* handle) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->Stop() : 0;
}

VERBENA_API int VERBENA_GetStats(void* handle, VerbenaStats* stats) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->GetStats(stats) : 0;
}

VERBENA_API int VERBENA_SetTrustedCA(void* handle, const char* pemPath) {
  Encoder* encoder = HandleTable::Instance().Find(handle);
  return encoder != nullptr ? encoder->SetTrustedCA(pemPath != nullptr ? pemPath : "") : 0;
}

}  // extern "C"
