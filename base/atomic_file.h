// Reading a file whole, and replacing it whole so that a reader never sees part of it. Neither
// throws: every failure is a return value.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// What ReadWholeFile found.
enum class FileRead {
  kRead,     // bytes hold the whole file
  kMissing,  // there is no file of that name: bytes are empty
  kFailed,   // anything else: a folder of that name, no permission, an input/output error, a
             // file too large to hold; bytes are empty and `why` says what happened
};

// Reads the whole regular file (a link is followed).
FileRead ReadWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& why);

// Writes bytes into a temporary file beside `file` (same folder, so the rename cannot cross file
// systems), flushes it to the disk and renames it over `file`; on Linux the folder is flushed
// after the rename too. A reader, a crash, a power cut or a full disk leaves either the old or the
// new file, never a cut one. A symbolic link stays and the file it points at is replaced; the new
// file keeps the old one's permission bits. The folder must exist.
//
// A file that is there but may not be written is left as it is, as the system's own writers
// (WritePrivateProfileString, an editor) would leave it: on Windows one with the read-only
// attribute or whose security denies this process writing; on Linux one that this process has no
// write permission for, or one without any write permission bit, which counts for root too.
//
// Returns false when the file could not be written, after logging why; the old file is then
// untouched and no temporary file is left.
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quillon
