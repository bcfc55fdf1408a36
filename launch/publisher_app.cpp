#include "launch/publisher_app.h"

#include "launch/launch_url.h"
#include "launch/url_protocol.h"

namespace quillon {

void PrepareClassAddress(const CommandLine& commandLine, UserMessages& messages) {
  RegisterUrlProtocol();
  const std::string launchUrl = commandLine.HasLaunchUrl ? commandLine.LaunchUrl : std::string();
  if (HandleLaunchUrl(launchUrl) == 0) StartFastClass(messages);
}

}  // namespace quillon
