// Why a publish could not begin, in the terms a caller can show a teacher (VerbenaStats'
// StartFailure).
#pragma once

#include <cstdint>
#include <string>

namespace verbena {

enum StartFailure : uint32_t {
  kStartFailureNone = 0,
  kStartFailureNoAnswer = 1,      // nothing came back in time
  kStartFailureNotListening = 2,  // the host answered, but nothing accepts connections on the port
  kStartFailureHostNotFound = 3,  // the host name does not resolve
  kStartFailureRefused = 4,       // connected, but the server refused the stream (name in use, ...)
  kStartFailureOther = 5,
  kStartFailureBadAddress = 6,  // not an rtmp:// or rtmps:// address a connection can be made to
  kStartFailureCertificateUntrusted = 7,  // rtmps://: not from a trusted authority
  kStartFailureCertificateExpired = 8,    // rtmps://: expired or not valid yet
  kStartFailureCertificateOtherHost = 9,  // rtmps://: for another host
};

// Classifies the error FFmpeg gave for opening url. Looks the host name up itself where FFmpeg's
// error cannot tell a missing name from other input/output errors.
StartFailure ClassifyStartFailure(int error, const std::string& url);

}  // namespace verbena
