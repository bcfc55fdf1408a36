#include "verbena/start_failure.h"

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

extern "C" {
#include <libavutil/error.h>
}

namespace verbena {
namespace {

std::string HostOf(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  std::string authority = url.substr(scheme + 3, url.find('/', scheme + 3) - scheme - 3);
  if (!authority.empty() && authority.front() == '[')
    return authority.substr(1, authority.find(']') - 1);
  return authority.substr(0, authority.rfind(':'));
}

bool Resolves(const std::string& host) {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return true;  // cannot tell: not the name's fault
#endif
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const bool resolves = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
  if (found != nullptr) freeaddrinfo(found);
#ifdef _WIN32
  WSACleanup();
#endif
  return resolves;
}

}  // namespace

StartFailure ClassifyStartFailure(int error, const std::string& url) {
  switch (error) {
    case AVERROR_EXIT:
    case AVERROR(ETIMEDOUT):
#ifdef _WIN32  // FFmpeg's sockets on Windows also give the system's own numbers
    case AVERROR(WSAETIMEDOUT):
#endif
      return kStartFailureNoAnswer;
    case AVERROR(ECONNREFUSED):
#ifdef _WIN32
    case AVERROR(WSAECONNREFUSED):
#endif
      return kStartFailureNotListening;
    case AVERROR(EIO): {  // also what FFmpeg says for a name it could not resolve
      const std::string host = HostOf(url);
      return !host.empty() && !Resolves(host) ? kStartFailureHostNotFound : kStartFailureOther;
    }
    case AVERROR(ECONNRESET):
    case AVERROR(EPIPE):
    case AVERROR_EOF:
      return kStartFailureOther;
    default:
      // After the connection: the server answered the publish with an error.
      return error == AVERROR_UNKNOWN || error == AVERROR(EACCES) || error == AVERROR(EPERM) ||
                     error == AVERROR_INVALIDDATA
                 ? kStartFailureRefused
                 : kStartFailureOther;
  }
}

}  // namespace verbena
