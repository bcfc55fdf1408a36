#include "base/atomic_file.h"

#include "base/atomic_file_steps.h"
#include "base/log.h"

#include <cstdint>
#include <exception>
#include <new>
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

FileRead ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& why) {
  bytes.clear();
  FileRead result = FileRead::kFailed;
  try {
    result = atomic_file_steps::Read(file, bytes, why);
  } catch (const std::bad_alloc&) {
    why = "too large to hold in memory";
  }
  if (result != FileRead::kRead) bytes.clear();
  return result;
}

bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes) {
  namespace fs = std::filesystem;
  namespace steps = atomic_file_steps;
  std::string why;
  fs::path temporary;
  try {
    std::error_code error;
    fs::path target = file;
    if (fs::is_symlink(target, error)) {
      // Replace the file the link points at, not the link.
      fs::path resolved = fs::weakly_canonical(target, error);
      if (!error) target = resolved;
    }
    if (!steps::MayWrite(target, why)) {
      LogWarning("%s is left as it is: %s", target.string().c_str(), why.c_str());
      return false;
    }
    fs::path next = target;
    next += RandomSuffix();
    if (!steps::CreateFlushed(next, bytes, target, why)) {
      LogWarning("cannot write %s: %s", next.string().c_str(), why.c_str());
      return false;
    }
    temporary = next;
    // Only a flushed file takes the old one's place: after a power cut the name holds the old
    // bytes or the new ones.
    if (steps::RenameFlushed(temporary, target, why)) return true;
    LogWarning("cannot replace %s: %s", target.string().c_str(), why.c_str());
  } catch (const std::exception& exception) {  // no memory for a path
    LogWarning("cannot replace a file: %s", exception.what());
  }
  std::error_code error;
  if (!temporary.empty()) fs::remove(temporary, error);
  return false;
}

}  // namespace quillon
