#include "verbena/rtmp_address.h"

#include <cctype>

namespace verbena {
namespace {

std::string HostPort(const std::string& host, int port) {
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return shown + ":" + std::to_string(port);
}

// The application part of an RTMP path as FFmpeg's client (libavformat/rtmpproto.c) takes it:
// "/app/stream" gives "app"; with more parts, all but the last, unless a ":" (as in
// "mp4:name") comes before the second "/".
std::string Application(const std::string& path) {
  if (path.rfind("/ondemand/", 0) == 0) return "ondemand";
  const std::string next = path.empty() ? path : path.substr(1);
  const size_t slash = next.find('/');
  if (slash == std::string::npos) return next;
  const size_t colon = next.find(':', slash + 1);
  const size_t nextSlash = next.find('/', slash + 1);
  if (nextSlash == std::string::npos || (colon != std::string::npos && colon < nextSlash))
    return next.substr(0, slash);
  return next.substr(0, nextSlash);
}

}  // namespace

bool SplitRtmpAddress(const std::string& url, RtmpAddress* address) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return false;
  address->scheme = url.substr(0, schemeEnd);
  const size_t authorityStart = schemeEnd + 3;
  const size_t pathStart = std::min(url.find_first_of("/?", authorityStart), url.size());
  const std::string authority = url.substr(authorityStart, pathStart - authorityStart);
  address->path = url.substr(pathStart);
  if (authority.find('@') != std::string::npos) return false;
  size_t portStart = std::string::npos;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    address->host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      portStart = close + 2;
    }
  } else {
    const size_t colon = authority.rfind(':');
    address->host = authority.substr(0, colon);
    if (colon != std::string::npos) portStart = colon + 1;
  }
  address->port = address->scheme == "rtmps" ? 443 : 1935;  // FFmpeg's defaults
  if (portStart != std::string::npos) {
    const std::string port = authority.substr(portStart);
    if (port.empty() || port.size() > 5) return false;
    for (char digit : port)
      if (!std::isdigit(static_cast<unsigned char>(digit))) return false;
    address->port = std::stoi(port);
    if (address->port > 65535) return false;
  }
  return !address->host.empty();
}

bool IsNumericHost(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;  // IPv6
  int dots = 0;
  for (char c : host) {
    if (c == '.')
      ++dots;
    else if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
  }
  return dots == 3;
}

std::string RtmpTcUrl(const RtmpAddress& address) {
  return address.scheme + "://" + HostPort(address.host, address.port) + "/" +
         Application(address.path);
}

std::string WithHost(const RtmpAddress& address, const std::string& numericHost) {
  return address.scheme + "://" + HostPort(numericHost, address.port) + address.path;
}

}  // namespace verbena
