// What the platform loaders of the encoder library share: binding the exports by name and the
// messages that name the file or export at fault.
#pragma once

#include <memory>
#include <string>

#include "capture/encoder_library.h"

namespace quillon {

// Finds an export of a loaded module by name; nullptr when the module has none of that name.
using ExportLookup = void* (*)(void* module, const char* name);

// Binds the six required exports and the optional one of module, which was loaded from path.
// Returns nullptr, after naming each missing required export on stderr, when one is missing;
// otherwise an EncoderLibrary that keeps keepAlive (the module's owner).
std::shared_ptr<const EncoderLibrary> BindEncoderLibrary(void* module, ExportLookup lookup,
                                                         const std::string& path,
                                                         std::shared_ptr<void> keepAlive);

// Says on stderr that the library at path could not be loaded, and why.
void ReportEncoderLibraryLoadFailure(const std::string& path, const std::string& reason);

}  // namespace quillon
