#include "launch/allowed_hosts.h"

#include <algorithm>
#include <cctype>

namespace quillon {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

PublishHost SplitPublishAddress(std::string_view publishUrl) {
  const size_t scheme = publishUrl.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view authority = publishUrl.substr(scheme + 3);
  authority = authority.substr(0, authority.find('/'));
  const size_t colon = authority.rfind(':');
  // The colons of a bracketed IPv6 address are not a port's.
  if (colon == std::string_view::npos || authority.find(']', colon) != std::string_view::npos)
    return {std::string(authority), authority.empty()                         ? ""
                                    : publishUrl.substr(0, scheme) == "rtmps" ? "443"
                                                                              : "1935"};
  return {std::string(authority.substr(0, colon)), std::string(authority.substr(colon + 1))};
}

bool HostAllowed(std::string_view allowedHosts, std::string_view host) {
  if (Trimmed(allowedHosts).empty()) return true;
  while (true) {
    const size_t comma = allowedHosts.find(',');
    const std::string_view name = Trimmed(allowedHosts.substr(0, comma));
    if (!name.empty() && SameName(name, host)) return true;  // "a,,b" holds no empty name
    if (comma == std::string_view::npos) return false;
    allowedHosts.remove_prefix(comma + 1);
  }
}

std::string HostRefusedMessage(std::string_view host, std::string_view allowedHosts) {
  return "这个课堂链接要发布到 " + std::string(host.empty() ? "(没有服务器)" : host) +
         "，本机只允许发布到 " + std::string(Trimmed(allowedHosts)) +
         "。链接没有保存，请联系学校的课堂管理员。";
}

}  // namespace quillon
