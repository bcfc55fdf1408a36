#include "launch/launch_url.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "base/ansi_text.h"
#include "launch/allowed_hosts.h"
#include "launch/profile_file.h"
#include "launch/settings.h"

namespace quillon {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A generator seeded from the system's entropy source, so that two teachers starting in the same
// second still get different classes.
std::mt19937_64 SeededGenerator() {
  std::array<uint32_t, 8> seed{};
  try {
    std::random_device device;
    for (uint32_t& word : seed) word = device();
  } catch (...) {
    // No entropy source at all: the clock and an address are the best left.
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    seed[0] = static_cast<uint32_t>(now);
    seed[1] = static_cast<uint32_t>(static_cast<uint64_t>(now) >> 32);
    seed[2] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&seed));
  }
  std::seed_seq sequence(seed.begin(), seed.end());
  return std::mt19937_64(sequence);
}

// 8 random decimal digits read as a number: leading zeros vanish ("00123456" gives "123456").
std::string MakeClassNumber() {
  std::mt19937_64 generator = SeededGenerator();
  std::uniform_int_distribution<int> digit(0, 9);
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += static_cast<char>('0' + digit(generator));
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

// Stores Device/Address; when config.ini cannot be read or written, tells which and returns false.
bool StoreAddress(const std::filesystem::path& file, std::string_view stored,
                  UserMessages& messages) {
  if (WriteProfileString(file, "Device", "Address", stored)) return true;
  std::string why;
  messages.Show(ReadProfile(file, why) ? kSettingsNotSavedMessage : kSettingsUnreadableMessage);
  return false;
}

}  // namespace

std::string DecodeUrlEscapes(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    decoded += text[i++];
  }
  return decoded;
}

std::string AddressFromLaunchUrl(std::string_view argument) {
  std::string_view payload =
      argument.size() > kLaunchUrlPrefixLength ? argument.substr(kLaunchUrlPrefixLength) : "";
  payload = payload.substr(0, kLaunchPayloadLimit);
  std::string decoded = DecodeUrlEscapes(payload);
  decoded.resize(std::min(decoded.size(), decoded.find('\0')));
  std::string text = Utf8ToAnsi(decoded);
  const std::size_t amp = text.rfind('&');
  text.resize(amp == std::string::npos ? 0 : amp);
  if (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

bool HandleLaunchUrl(std::string_view tail, const std::filesystem::path& file) {
  if (!IsLaunchUrl(tail)) return false;
  WriteProfileString(file, "Device", "Address", AddressFromLaunchUrl(tail));
  return true;
}

LaunchUrlResult StoreLaunchUrl(std::string_view tail, const std::filesystem::path& file,
                               UserMessages& messages) {
  if (!IsLaunchUrl(tail)) return LaunchUrlResult::kNone;
  const std::string stored = AddressFromLaunchUrl(tail);
  const std::string allowed = LoadProfile(file).GetString("Device", "AllowedHosts", "", 4096);
  const std::string plain = DescrambleAddress(stored);
  const std::string host = SplitPublishAddress(plain.substr(0, plain.rfind('&'))).host;
  if (!HostAllowed(allowed, host)) {
    messages.Show(HostRefusedMessage(host, allowed));
    return LaunchUrlResult::kRefused;
  }
  return StoreAddress(file, stored, messages) ? LaunchUrlResult::kStored
                                              : LaunchUrlResult::kNotSaved;
}

std::string DefaultServerHost() {
  const char* host = std::getenv("QUILLON_DEFAULT_SERVER");
  return (host != nullptr && *host != '\0') ? host : QUILLON_DEFAULT_SERVER;
}

std::string FastClassAddress(std::string_view host, std::string_view class_number) {
  std::string address = "rtmp://";
  address += host;
  address += ":10086/encoder/zel/mp4:";
  address += class_number;
  address += ".mp4&";
  address += class_number;
  return address;
}

std::string FastClassMessage(std::string_view class_number) {
  return "您使用的是【极速开课模式】, 系统已经自动为您开通了网络课堂, 课堂ID是" +
         std::string(class_number) +
         ", 请在软件界面左上方点击【上课】按钮, 然后邀请更多人参加你的课堂.";
}

bool StartFastClass(UserMessages& messages, const std::filesystem::path& file,
                    UserMessages* problems) {
  const std::string class_number = MakeClassNumber();
  std::string address = FastClassAddress(DefaultServerHost(), class_number);
  // No longer than a launch URL's payload may be: the same limit for every stored address.
  address.resize(std::min<std::size_t>(address.size(), kLaunchPayloadLimit));
  if (!StoreAddress(file, ScrambleAddress(address), problems ? *problems : messages)) return false;
  messages.Show(FastClassMessage(class_number));
  return true;
}

}  // namespace quillon
