#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/url_protocol.h"

namespace quillon {

void PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages) {
  RegisterUrlProtocol();
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  if (!HandleLaunchUrl(launchUrl, settingsFile)) StartFastClass(messages, settingsFile);
}

}  // namespace quillon
