// The system calls behind ReadWholeFile and ReplaceFileAtomically, one implementation per platform
// (atomic_file_linux.cpp, atomic_file_win.cpp). On failure each says why in `why`.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/atomic_file.h"

namespace quillon::atomic_file_steps {

// ReadWholeFile, which clears bytes first and catches running out of memory.
FileRead Read(const std::filesystem::path& file, std::string& bytes, std::string& why);

// Whether this process may write `file` as it stands; true when there is no such file.
bool MayWrite(const std::filesystem::path& file, std::string& why);

// Makes the new file `temporary` (never one that exists) holding bytes, with the permission bits
// of `like` when that exists, and flushes it to the disk. A file it made and could not finish is
// removed.
bool CreateFlushed(const std::filesystem::path& temporary, std::string_view bytes,
                   const std::filesystem::path& like, std::string& why);

// Renames `from` over `to` and has the change of the folder reach the disk.
bool RenameFlushed(const std::filesystem::path& from, const std::filesystem::path& to,
                   std::string& why);

}  // namespace quillon::atomic_file_steps
