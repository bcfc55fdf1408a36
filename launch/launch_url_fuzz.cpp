// Feeds arbitrary command-line tails to the launch-URL handling and checks what it stores.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/ansi_text.h"
#include "base/testing/test_folder.h"
#include "launch/launch_url.h"
#include "launch/profile_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// The settings file in a folder of this run's own, removed when the fuzzer exits.
const std::filesystem::path& SettingsFile() {
  static const quillon::TestFolder folder;
  static const std::filesystem::path file = folder / "config.ini";
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  const std::string argument(reinterpret_cast<const char*>(data), size);

  const std::string decoded = DecodeUrlEscapes(argument);
  Require(decoded.size() <= argument.size());

  const std::string address = AddressFromLaunchUrl(argument);
  Require(address.size() <= kLaunchPayloadLimit);
  Require(address.find('\0') == std::string::npos);
  Require(Utf8ToAnsi(address) == address);  // what is stored is valid text

  std::filesystem::remove(SettingsFile());
  const bool handled = HandleLaunchUrl(argument, SettingsFile());
  Require(handled == (size >= 2));
  if (handled) {
    // The address stays on its one line: the file holds exactly one key.
    const ProfileText stored = LoadProfile(SettingsFile());
    Require(stored.Find("Device", "Address").has_value());
    std::size_t lines = 0;
    for (char c : stored.Bytes()) lines += c == '\n';
    Require(lines == 2);
  }
  return 0;
}
