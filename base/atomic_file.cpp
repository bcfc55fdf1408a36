#include "base/atomic_file.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace quillon {
namespace {

// ".tmp" and 16 random hexadecimal digits: two writers of the same file, in one process or in
// two, do not share a temporary file.
std::string RandomSuffix() {
  uint64_t value = 0;
  try {
    std::random_device device;
    value = (uint64_t{device()} << 32) ^ device();
  } catch (...) {
    // No entropy source: the address of a stack object still differs between processes often
    // enough, and a clash only makes this one write fail.
    value = reinterpret_cast<uintptr_t>(&value);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string suffix = ".tmp";
  for (int i = 0; i < 16; ++i, value >>= 4) suffix += kHex[value & 15];
  return suffix;
}

}  // namespace

bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path target = file;
  if (fs::is_symlink(target, error)) {
    // Replace the file the link points at, not the link.
    fs::path resolved = fs::weakly_canonical(target, error);
    if (!error) target = resolved;
  }
  fs::path temporary = target;
  temporary += RandomSuffix();
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (out.fail()) {
      fs::remove(temporary, error);
      return false;
    }
  }
  const fs::file_status oldStatus = fs::status(target, error);
  if (!error && fs::exists(oldStatus)) fs::permissions(temporary, oldStatus.permissions(), error);
  // On Windows the standard library renames with MoveFileExW and MOVEFILE_REPLACE_EXISTING.
  fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace quillon
