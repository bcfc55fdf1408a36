#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/settings.h"
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

bool TakeClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                      UserMessages& messages) {
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  if (launchUrl.size() < 2) {  // no link (as StoreLaunchUrl counts them): a fast class
    StartFastClass(messages, settingsFile);
    return true;
  }
  std::string publishUrl, streamName;
  if (!SplitAddress(DescrambleAddress(AddressFromLaunchUrl(launchUrl)), publishUrl, streamName)) {
    messages.Show(kBadAddressMessage);
    return false;
  }
  return StoreLaunchUrl(launchUrl, settingsFile, messages) == LaunchUrlResult::kStored;
}

}  // namespace quillon
