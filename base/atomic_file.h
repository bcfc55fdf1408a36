// Replacing a file whole, so that a reader never sees part of it.
#pragma once

#include <filesystem>
#include <string_view>

namespace quillon {

// Writes bytes into a temporary file beside `file` (same folder, so the rename cannot cross file
// systems) and renames it over `file`: a reader, a crash or a full disk sees either the old or
// the new file, never a cut one. A symbolic link stays and the file it points at is replaced; the
// new file keeps the old one's permission bits. The folder must exist. Returns false when the
// file could not be written; the old file is then untouched and no temporary file is left.
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quillon
