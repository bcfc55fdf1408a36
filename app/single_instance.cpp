#include "app/single_instance.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <thread>

namespace quillon {

std::string InstanceName(const std::filesystem::path& programFolder) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::weakly_canonical(programFolder, error);
  if (error) folder = std::filesystem::absolute(programFolder, error);
  // FNV-1a: the same on every build and platform, unlike std::hash.
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char byte : folder.generic_u8string()) {
    hash = (hash ^ byte) * 1099511628211ull;
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("quillon-publisher-") + digits;
}

SingleInstance::SingleInstance(const std::filesystem::path& programFolder,
                               const std::string& request)
    : channel_(MakeInstanceChannel(InstanceName(programFolder))) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kHandOverSeconds);
  while (!channel_->Claim()) {
    if (channel_->HandOver(request)) {
      role_ = InstanceRole::kHandedOver;
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      role_ = InstanceRole::kNoAnswer;
      return;
    }
    // The running program is still starting, or ending.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::Listen(std::function<void(const std::string&)> receive) {
  channel_->Listen(std::move(receive));
}

}  // namespace quillon
