#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/settings.h"
#include "launch/url_protocol.h"

namespace quillon {

bool PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages) {
  RegisterUrlProtocol();
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  // A refused link leaves the stored address as it was; the user has been told.
  switch (StoreLaunchUrl(launchUrl, settingsFile, messages)) {
    case LaunchUrlResult::kNone:
      return StartFastClass(messages, settingsFile);
    case LaunchUrlResult::kStored:
      return true;
    case LaunchUrlResult::kRefused:
    case LaunchUrlResult::kNotSaved:
      break;
  }
  return false;
}

bool TakeClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                      UserMessages& messages) {
  const std::filesystem::path settingsFile = SettingsFileIn(programFolder);
  if (launchUrl.size() < 2) {  // no link (as StoreLaunchUrl counts them): a fast class
    return StartFastClass(messages, settingsFile);
  }
  std::string publishUrl, streamName;
  if (!SplitAddress(DescrambleAddress(AddressFromLaunchUrl(launchUrl)), publishUrl, streamName)) {
    messages.Show(kBadAddressMessage);
    return false;
  }
  return StoreLaunchUrl(launchUrl, settingsFile, messages) == LaunchUrlResult::kStored;
}

}  // namespace quillon
