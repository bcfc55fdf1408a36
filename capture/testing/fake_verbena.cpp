// The recording stand-in for the encoder library; see fake_verbena.h.
#include "capture/testing/fake_verbena.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Record {
  std::mutex Mutex;
  std::vector<FakeVerbenaCall> Calls;
  // Every encoder made, kept for the whole process: no call of the interface releases one.
  std::vector<std::unique_ptr<EncoderParams>> Encoders;
  std::vector<unsigned char> LastPicture;
  std::optional<EncoderParams> Params;
  int StartResult = 1;
  int NotifySize = 4096;
};

Record& TheRecord() {
  static Record* record = [] {
    Record* r = new Record;  // outlives every caller, even at process exit
    // A program run as a separate process is told what Start answers through the environment.
    if (const char* start = std::getenv("FAKE_VERBENA_START_RESULT"))
      r->StartResult = std::atoi(start);
    return r;
  }();
  return *record;
}

// Runs work on the record under its lock; returns what work returns.
template <typename Work>
auto Locked(Work&& work) {
  Record& record = TheRecord();
  std::lock_guard<std::mutex> lock(record.Mutex);
  return work(record);
}

// Benchmarks set FAKE_VERBENA_LIGHT so that the record costs next to nothing per picture.
bool Light() {
  static const bool light = std::getenv("FAKE_VERBENA_LIGHT") != nullptr;
  return light;
}

// Copies at most capacity items of from to buffer; returns how many there are.
template <typename Item>
int CopyOut(const std::vector<Item>& from, Item* buffer, int capacity) {
  const size_t n = std::min(from.size(), static_cast<size_t>(std::max(capacity, 0)));
  if (n > 0) std::memcpy(buffer, from.data(), n * sizeof(Item));
  return static_cast<int>(from.size());
}

void Note(const char* function, void* handle, const unsigned char* data, int length,
          const std::string& details = "") {
  FakeVerbenaCall call{};
  std::snprintf(call.Function, sizeof call.Function, "%s", function);
  call.Thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
  call.Handle = handle;
  call.Length = data != nullptr ? length : -1;
  Locked([&](Record& record) { record.Calls.push_back(call); });
  if (const char* path = std::getenv("FAKE_VERBENA_LOG")) {
    if (FILE* log = std::fopen(path, "a")) {
      // The scripts find a length as "length=N " with the space: a field follows it.
      std::fprintf(log, "%s thread=%llu length=%d handle=%p%s\n", call.Function,
                   static_cast<unsigned long long>(call.Thread), call.Length, handle,
                   details.c_str());
      std::fclose(log);
    }
  }
}

}  // namespace

extern "C" {

VERBENA_API void* VERBENA_CreateEncoder(const EncoderParams* params) {
  EncoderParams* encoder = Locked([&](Record& record) {
    record.Encoders.push_back(std::make_unique<EncoderParams>(*params));
    record.Params = *params;
    return record.Encoders.back().get();
  });
  Note("CreateEncoder", encoder, nullptr, 0,
       " width=" + std::to_string(params->Width) + " height=" + std::to_string(params->Height) +
           " format=" + std::to_string(params->FormatCode) + " url=" + params->Url);
  return encoder;
}

VERBENA_API int VERBENA_Start(void* handle) {
  Note("Start", handle, nullptr, 0);
  return Locked([](Record& record) { return record.StartResult; });
}

VERBENA_API int VERBENA_GetAudioNofifySize(void* handle) {
  Note("GetAudioNofifySize", handle, nullptr, 0);
  return Locked([](Record& record) { return record.NotifySize; });
}

VERBENA_API int VERBENA_PutVideoData(void* handle, const unsigned char* data, int length) {
  Note("PutVideoData", handle, data, length);
  if (data != nullptr && length > 0 && !Light()) {
    Locked([&](Record& record) { record.LastPicture.assign(data, data + length); });
  }
  return 1;
}

VERBENA_API int VERBENA_PutAudioData(void* handle, const unsigned char* data, int length) {
  Note("PutAudioData", handle, data, length);
  return 1;
}

#ifndef FAKE_VERBENA_WITHOUT_STOP
VERBENA_API int VERBENA_Stop(void* handle) {
  Note("Stop", handle, nullptr, 0);
  return 1;
}
#endif

VERBENA_API void FakeVerbena_Reset(int startResult, int notifySize) {
  Locked([&](Record& record) {
    record.Calls.clear();
    record.LastPicture.clear();
    record.Params.reset();
    record.StartResult = startResult;
    record.NotifySize = notifySize;
  });
}

VERBENA_API int FakeVerbena_CopyCalls(FakeVerbenaCall* buffer, int capacity) {
  return Locked([&](Record& record) { return CopyOut(record.Calls, buffer, capacity); });
}

VERBENA_API int FakeVerbena_GetParams(EncoderParams* params) {
  return Locked([&](Record& record) {
    if (record.Params) *params = *record.Params;
    return record.Params ? 1 : 0;
  });
}

VERBENA_API int FakeVerbena_CopyLastPicture(unsigned char* buffer, int capacity) {
  return Locked([&](Record& record) { return CopyOut(record.LastPicture, buffer, capacity); });
}

}  // extern "C"
