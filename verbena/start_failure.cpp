#include "verbena/start_failure.h"

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>  // the system's own error numbers, which FFmpeg's sockets also give
#endif

extern "C" {
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include "verbena/flv_output.h"
#include "verbena/name_lookup.h"

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
  // Bounded like every lookup of ours; a lookup with no answer is not the name's fault.
  return LookUpHost(host, av_gettime_relative() + int64_t{kConnectProgressMs} * 1000, nullptr)
             .result != NameLookup::Result::kNotFound;
}

}  // namespace

StartFailure ClassifyStartFailure(int error, const std::string& url) {
  switch (error) {
    case kErrorHostNotFound:
      return kStartFailureHostNotFound;
    case kErrorCertificateUntrusted:
      return kStartFailureCertificateUntrusted;
    case kErrorCertificateExpired:
      return kStartFailureCertificateExpired;
    case kErrorCertificateOtherHost:
      return kStartFailureCertificateOtherHost;
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
