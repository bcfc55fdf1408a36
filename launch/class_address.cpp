#include "launch/class_address.h"

#include "launch/launch_url.h"
#include "launch/settings.h"
#include "launch/url_protocol.h"

namespace quillon {

namespace {

// Stores the link's address, or opens a fast class without one. A refused link leaves the stored
// address as it was; the user has been told.
bool StoreOrStartFastClass(std::string_view launchUrl, const std::filesystem::path& settingsFile,
                           UserMessages& messages) {
  RestoreMissingSettings(settingsFile, messages);
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

}  // namespace

bool PrepareClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                         UserMessages& messages) {
  RegisterUrlProtocol();
  return StoreOrStartFastClass(launchUrl, SettingsFileIn(programFolder), messages);
}

bool TakeClassAddress(std::string_view launchUrl, const std::filesystem::path& programFolder,
                      UserMessages& messages) {
  std::string publishUrl, streamName;
  if (IsLaunchUrl(launchUrl) &&
      !SplitAddress(DescrambleAddress(AddressFromLaunchUrl(launchUrl)), publishUrl, streamName)) {
    messages.Show(kBadAddressMessage);
    return false;
  }
  return StoreOrStartFastClass(launchUrl, SettingsFileIn(programFolder), messages);
}

}  // namespace quillon
