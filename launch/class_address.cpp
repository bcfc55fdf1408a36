#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/url_protocol.h"

namespace quillon {

void PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages) {
  RegisterUrlProtocol();
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  // A refused link leaves the stored address as it was; the user has been told.
  if (StoreLaunchUrl(launchUrl, settingsFile, messages) == LaunchUrlResult::kNone)
    StartFastClass(messages, settingsFile);
}

}  // namespace quillon
