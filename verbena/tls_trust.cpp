#include "verbena/tls_trust.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#ifndef _WIN32
#include <gnutls/gnutls.h>
#include <netdb.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

extern "C" {
#include <libavutil/time.h>
}

#include "verbena/ffmpeg_util.h"
#include "verbena/log.h"
#include "verbena/name_lookup.h"

namespace verbena {
namespace {

constexpr std::uintmax_t kMaxPemBytes = 1 << 20;
constexpr char kCertificateBegin[] = "-----BEGIN CERTIFICATE-----";

std::filesystem::path PathOfUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8OfPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The file's text when it can be read, is not too large and holds a PEM certificate; else empty,
// and the reason in the log.
std::string ReadAuthorities(const std::filesystem::path& path) {
  const std::string shown = Utf8OfPath(path);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    Log("TrustedCA %s cannot be read (%s): the system's authorities alone are trusted",
        shown.c_str(), error.message().c_str());
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (size <= kMaxPemBytes && in) text.assign(std::istreambuf_iterator<char>(in), {});
  if (text.find(kCertificateBegin) == std::string::npos) {
    Log("TrustedCA %s holds no PEM certificate: the system's authorities alone are trusted",
        shown.c_str());
    return {};
  }
  return text;
}

#ifndef _WIN32
// The system's bundle of trusted authorities, where Debian and its relatives keep it.
std::string SystemBundle() {
  for (const char* path : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
                           "/etc/ssl/cert.pem"}) {
    std::ifstream in(path, std::ios::binary);
    if (in) return std::string(std::istreambuf_iterator<char>(in), {});
  }
  Log("the system's bundle of certificate authorities cannot be read");
  return {};
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct CredentialsFree {
  void operator()(gnutls_certificate_credentials_st* c) const {
    gnutls_certificate_free_credentials(c);
  }
};
struct SessionFree {
  void operator()(gnutls_session_int* s) const { gnutls_deinit(s); }
};

bool Stopped(int64_t deadlineUs, const std::atomic<bool>* abort) {
  return (abort != nullptr && abort->load(std::memory_order_relaxed)) ||
         av_gettime_relative() > deadlineUs;
}

// Waits up to 100 ms for fd to be ready for events; false when it failed.
bool WaitFor(int fd, short events) {
  pollfd entry{fd, events, 0};
  return poll(&entry, 1, 100) >= 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

// A non-blocking TCP connection to one of the addresses, or -1.
int ConnectTo(const std::vector<std::string>& addresses, int port, int64_t deadlineUs,
              const std::atomic<bool>* abort) {
  for (const std::string& address : addresses) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) continue;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
    Descriptor socket(
        ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) continue;
    if (connect(socket.get(), found->ai_addr, found->ai_addrlen) != 0 && errno != EINPROGRESS)
      continue;
    for (;;) {
      if (Stopped(deadlineUs, abort)) return -1;
      pollfd entry{socket.get(), POLLOUT, 0};
      if (poll(&entry, 1, 100) > 0) break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
      continue;
    return dup(socket.get());
  }
  return -1;
}

// The certificate problem that GnuTLS's verification status shows, or 0.
int ProblemOf(unsigned status) {
  if (status == 0) return 0;
  constexpr unsigned kUntrusted = GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA |
                                  GNUTLS_CERT_SIGNATURE_FAILURE | GNUTLS_CERT_REVOKED |
                                  GNUTLS_CERT_INSECURE_ALGORITHM;
  if ((status & kUntrusted) != 0) return kErrorCertificateUntrusted;
  if ((status & (GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED)) != 0)
    return kErrorCertificateExpired;
  if ((status & GNUTLS_CERT_UNEXPECTED_OWNER) != 0) return kErrorCertificateOtherHost;
  return kErrorCertificateUntrusted;
}
#endif

}  // namespace

TrustedAuthorities::TrustedAuthorities(const std::string& pemPath,
                                       const std::string& programFolder) {
  if (pemPath.empty()) return;
  std::filesystem::path path = PathOfUtf8(pemPath);
  if (path.is_relative()) path = std::filesystem::path(programFolder) / path;
  const std::string school = ReadAuthorities(path);
  if (school.empty()) return;
#ifdef _WIN32
  caFile_ = Utf8OfPath(path);
#else
  const std::string bundle = SystemBundle() + "\n" + school;
  memoryFile_ = memfd_create("verbena-trusted-authorities", MFD_CLOEXEC);
  if (memoryFile_ < 0 ||
      write(memoryFile_, bundle.data(), bundle.size()) != static_cast<ssize_t>(bundle.size())) {
    Log("cannot hold the trusted authorities in memory: the system's alone are trusted");
    return;
  }
  caFile_ = "/proc/self/fd/" + std::to_string(memoryFile_);
#endif
  Log("rtmps:// trusts the authorities of %s besides the system's", Utf8OfPath(path).c_str());
}

TrustedAuthorities::~TrustedAuthorities() {
#ifndef _WIN32
  if (memoryFile_ >= 0) close(memoryFile_);
#endif
}

#ifdef _WIN32
int CheckCertificate(const std::string&, int, const std::string&, int64_t,
                     const std::atomic<bool>*) {
  return 0;
}
#else
int CheckCertificate(const std::string& host, int port, const std::string& caFile,
                     int64_t deadlineUs, const std::atomic<bool>* abort) {
  const NameLookup lookup = LookUpHost(host, deadlineUs, abort);
  if (lookup.result != NameLookup::Result::kFound) return 0;
  const Descriptor socket(ConnectTo(lookup.addresses, port, deadlineUs, abort));
  if (socket.get() < 0) return 0;

  // Trusted as FFmpeg's GnuTLS trusts: the file it was given, or the system's authorities.
  gnutls_certificate_credentials_t credentials = nullptr;
  if (gnutls_certificate_allocate_credentials(&credentials) < 0) return 0;
  const std::unique_ptr<gnutls_certificate_credentials_st, CredentialsFree> ownCredentials(
      credentials);
  if (caFile.empty())
    gnutls_certificate_set_x509_system_trust(credentials);
  else
    gnutls_certificate_set_x509_trust_file(credentials, caFile.c_str(), GNUTLS_X509_FMT_PEM);
  gnutls_certificate_set_verify_flags(credentials, GNUTLS_VERIFY_ALLOW_X509_V1_CA_CRT);
  gnutls_session_t session = nullptr;
  if (gnutls_init(&session, GNUTLS_CLIENT | GNUTLS_NONBLOCK) < 0) return 0;
  const std::unique_ptr<gnutls_session_int, SessionFree> ownSession(session);
  gnutls_server_name_set(session, GNUTLS_NAME_DNS, host.data(), host.size());
  gnutls_set_default_priority(session);
  gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
  gnutls_transport_set_int(session, socket.get());
  int result = 0;
  do {
    if (Stopped(deadlineUs, abort)) return 0;
    result = gnutls_handshake(session);
    if ((result == GNUTLS_E_AGAIN || result == GNUTLS_E_INTERRUPTED) &&
        !WaitFor(socket.get(), gnutls_record_get_direction(session) == 0 ? POLLIN : POLLOUT))
      return 0;
  } while (result < 0 && gnutls_error_is_fatal(result) == 0);
  unsigned status = 0;
  if (result < 0 || gnutls_certificate_verify_peers3(session, host.c_str(), &status) < 0) return 0;
  return ProblemOf(status);
}
#endif

}  // namespace verbena
