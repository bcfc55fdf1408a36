// An rtmp:// address taken apart, so that the connection can go to an address looked up in
// advance while the server still hears the name it was given: FFmpeg's RTMP client sends the
// address's host in its "tcUrl", which servers use to pick the site a stream belongs to.
#pragma once

#include <string>

namespace verbena {

struct RtmpAddress {
  std::string scheme;  // "rtmp", "rtmps", ...
  std::string host;    // without the brackets of an IPv6 address
  int port = 1935;     // 443 for rtmps:// when the address names none
  std::string path;    // from the "/" after the host on, query included
};

// false for an address without "://", with a user name, or with an unusable port.
bool SplitRtmpAddress(const std::string& url, RtmpAddress* address);

// true when host is an IPv4 or IPv6 address rather than a name.
bool IsNumericHost(const std::string& host);

// The tcUrl FFmpeg's RTMP client makes of the address: scheme://host:port/app, with the
// application taken from the path the way that client takes it.
std::string RtmpTcUrl(const RtmpAddress& address);

// The address with its host replaced by a numeric one.
std::string WithHost(const RtmpAddress& address, const std::string& numericHost);

}  // namespace verbena
