#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/url_protocol.h"

namespace quillon {

void PrepareClassAddress(std::string_view launchUrl, UserMessages& messages) {
  RegisterUrlProtocol();
  if (!HandleLaunchUrl(launchUrl)) StartFastClass(messages);
}

}  // namespace quillon
