// INI ("profile") files with the rules of the Windows private-profile functions, on any platform.
//
// Sections and keys match without regard to ASCII case; names and values are stripped of the
// blanks around them, and a value quoted at both ends with the same quote loses the quotes. Lines
// starting with ";" are comments. Only the first section of a name is searched, and in it the
// first key of a name. Bytes pass unchanged: the file may hold text in any 8-bit code page.
//
// A change replaces the value part of that one key's line and keeps every other byte: the other
// lines, comments, blank lines, their order and the line ends (CRLF or LF, as the file has them).
// A missing key is added at the end of its section, a missing section at the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The signed decimal number at the start of a profile value, as GetPrivateProfileInt reads it:
// blanks, an optional sign, then digits; 0 when no digit follows. Values beyond the 32-bit range
// are held at its ends.
int32_t ProfileInteger(std::string_view value);

// The text of one profile file, in memory.
class ProfileText {
 public:
  ProfileText() = default;
  explicit ProfileText(std::string bytes) : bytes_(std::move(bytes)) {}

  const std::string& Bytes() const { return bytes_; }

  // The value of the key, or nullopt when the section or the key is missing. A value holding a
  // zero byte ends there.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  // GetPrivateProfileString: the value, or `fallback` when the key is missing, cut to
  // capacity - 1 bytes (the capacity counts the terminating zero of the system's call).
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                        std::size_t capacity) const;

  // GetPrivateProfileInt: ProfileInteger of the value, `fallback` only when the key is missing.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;

  // WritePrivateProfileString: sets the key's value, adding the key or the section when missing.
  // A value ends at its first zero byte or line break, so that it can never spill into a line of
  // its own (what stands after such a byte would be lost when read back anyway).
  void Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::string bytes_;
};

// Reads a profile file whole; reading never creates the file. A missing file reads as empty
// text. Any other failure (a folder of that name, no permission, an input/output error) gives
// nullopt and `why` the reason.
std::optional<ProfileText> ReadProfile(const std::filesystem::path& file, std::string& why);

// ReadProfile for a reader that can do nothing about a failure: it reads as empty text too.
ProfileText LoadProfile(const std::filesystem::path& file);

// One WritePrivateProfileString call: read, set, and replace the file whole with
// ReplaceFileAtomically (a link is followed, the permission bits stay, a file that may not be
// written is left as it is). Returns false, after logging why, when the file could not be read or
// written; the old file is then untouched.
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace quillon
