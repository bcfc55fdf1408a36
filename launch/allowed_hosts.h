// A school's lock on where its PCs publish: [Device] AllowedHosts= in config.ini, host names or
// addresses separated by commas. Empty or missing: any host, as without the key.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The host and port of a publishing address "scheme://host[:port]/...": the port 1935 (443 for
// rtmps://) when the address names none; a bracketed IPv6 host keeps its brackets. Empty host
// when there is none.
struct PublishHost {
  std::string host;
  std::string port;
};
PublishHost SplitPublishAddress(std::string_view publishUrl);

// Whether the list (AllowedHosts' value) lets host in: blanks around the names do not count,
// nor does the case of letters.
bool HostAllowed(std::string_view allowedHosts, std::string_view host);

// The message for a link to a host the list does not hold.
std::string HostRefusedMessage(std::string_view host, std::string_view allowedHosts);

}  // namespace quillon
