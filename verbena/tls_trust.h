// What an rtmps:// connection trusts, and why a server's certificate was not accepted. FFmpeg's TLS
// is always asked to check the certificate and the host name; there is no way to turn that off.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace verbena {

// The system's certificate authorities, and those of a school's own PEM file when one is named.
class TrustedAuthorities {
 public:
  // pemPath empty: the system's alone. A relative path is taken from programFolder. The file is
  // read now; one that cannot be read or holds no certificate is said in the log, and the
  // system's authorities alone are trusted.
  TrustedAuthorities(const std::string& pemPath, const std::string& programFolder);
  ~TrustedAuthorities();
  TrustedAuthorities(const TrustedAuthorities&) = delete;
  TrustedAuthorities& operator=(const TrustedAuthorities&) = delete;

  // What FFmpeg's TLS is given as ca_file, valid while this object lives; empty for the system's
  // authorities alone. Linux: a file in memory that holds the system's bundle and the school's
  // authorities (FFmpeg's GnuTLS takes either a file or the system's, not both). Windows: the
  // school's file (our FFmpeg's Schannel checks it after the system's store).
  const std::string& CaFile() const { return caFile_; }

 private:
  std::string caFile_;
  int memoryFile_ = -1;  // Linux: the descriptor behind caFile_
};

// After FFmpeg's TLS failed to connect to an rtmps:// server with a plain input/output error
// (all that its GnuTLS says), makes one more handshake of its own to tell whether the server's
// certificate was the cause: kErrorCertificateUntrusted, ...Expired, ...OtherHost, or 0 when it
// was not or cannot be told (nothing answers now). Gives up at deadlineUs (av_gettime_relative's
// clock) or when *abort (may be nullptr) is set. Always 0 on Windows, where Schannel's errors say
// it.
int CheckCertificate(const std::string& host, int port, const std::string& caFile,
                     int64_t deadlineUs, const std::atomic<bool>* abort);

}  // namespace verbena
