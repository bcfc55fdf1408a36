#include "verbena/name_lookup.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>
#endif

extern "C" {
#include <libavutil/time.h>
}

namespace verbena {
namespace {

// What the lookup thread hands back; shared, so that an abandoned thread still has it.
struct Pending {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  NameLookup lookup;
};

// A lookup thread left to finish alone runs this library's code after its caller has gone: the
// library must not be unloaded under it (the program lets go of it after each class). Once a
// lookup has run, the library stays until the process ends.
void KeepThisLibraryLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
#ifdef _WIN32
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepThisLibraryLoaded), &self);
#else
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryLoaded), &self) != 0 &&
        self.dli_fname != nullptr)
      dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);  // a reference never dropped
#endif
  });
}

NameLookup SystemLookup(const std::string& host) {
  NameLookup lookup;
#ifdef _WIN32
  WSADATA data;
  const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
#endif
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error == 0) {
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
      char text[NI_MAXHOST];
      if (getnameinfo(entry->ai_addr, static_cast<socklen_t>(entry->ai_addrlen), text, sizeof text,
                      nullptr, 0, NI_NUMERICHOST) == 0)
        lookup.addresses.push_back(text);
    }
    freeaddrinfo(found);
  }
  lookup.result = lookup.addresses.empty() ? (error == EAI_AGAIN ? NameLookup::Result::kNoAnswer
                                                                 : NameLookup::Result::kNotFound)
                                           : NameLookup::Result::kFound;
#ifdef _WIN32
  if (started) WSACleanup();
#endif
  return lookup;
}

}  // namespace

NameLookup LookUpHost(const std::string& host, int64_t deadlineUs, const std::atomic<bool>* abort) {
  return LookUpHostWith(&SystemLookup, host, deadlineUs, abort);
}

NameLookup LookUpHostWith(LookupFunction function, const std::string& host, int64_t deadlineUs,
                          const std::atomic<bool>* abort) {
  KeepThisLibraryLoaded();
  auto pending = std::make_shared<Pending>();
  std::thread([pending, host, function] {
    NameLookup lookup = function(host);
    std::lock_guard lock(pending->mutex);
    pending->lookup = std::move(lookup);
    pending->finished = true;
    pending->done.notify_all();
  }).detach();

  std::unique_lock lock(pending->mutex);
  for (;;) {
    // Short waits: the abort flag has no way to wake this thread.
    pending->done.wait_for(lock, std::chrono::milliseconds(50), [&] { return pending->finished; });
    if (pending->finished) return pending->lookup;
    NameLookup unfinished;
    if (abort != nullptr && abort->load(std::memory_order_relaxed)) {
      unfinished.result = NameLookup::Result::kAborted;
      return unfinished;
    }
    if (av_gettime_relative() >= deadlineUs) return unfinished;  // kNoAnswer
  }
}

}  // namespace verbena
