// Parses arbitrary INI text, changes one key and checks that the change reads back and that
// another key keeps its value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "launch/profile_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// What reading gives back for a written value.
std::string ReadBack(std::string_view value) {
  value = value.substr(0, value.find_first_of(std::string_view("\0\r\n", 3)));
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

struct Name {
  const char* section;
  const char* key;
};
constexpr Name kNames[] = {{"Device", "Address"}, {"Device", "Bitrate"}, {"device", "BITRATE"},
                           {"Audio", "Chanels"},  {"New", "Key"},        {"Device", "VideoStyle"}};
constexpr std::size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  if (size < 2) return 0;
  const Name& changed = kNames[data[0] % kNameCount];
  const Name& other = kNames[(data[0] / kNameCount) % kNameCount];
  const std::size_t value_length = std::min<std::size_t>(data[1], size - 2);
  const std::string value(reinterpret_cast<const char*>(data) + 2, value_length);
  const std::string text(reinterpret_cast<const char*>(data) + 2 + value_length,
                         size - 2 - value_length);

  ProfileText profile(text);
  for (const Name& name : kNames) {
    profile.GetInt(name.section, name.key, -1);
    profile.GetString(name.section, name.key, "default", 100);
  }
  const bool same_key =
      Lower(changed.section) == Lower(other.section) && Lower(changed.key) == Lower(other.key);
  const auto other_before = profile.Find(other.section, other.key);

  profile.Set(changed.section, changed.key, value);
  Require(profile.Find(changed.section, changed.key) == ReadBack(value));
  if (!same_key) Require(profile.Find(other.section, other.key) == other_before);
  return 0;
}
