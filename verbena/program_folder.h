// Where the local recordings go: "recordings/" in the folder of the program that loaded us, or
// the folder the environment variable VERBENA_RECORDINGS_DIR names.
#pragma once

#include <string>

namespace verbena {

// Folder of the running executable, without a trailing '/'; "." when it cannot be found.
std::string ProgramFolder();

// "<folder>/recordings/<stream>-<YYYYMMDD-HHMMSS>.flv" for the local time now; creates the
// recordings folder. Empty (and a message) when the folder cannot be made.
std::string NewRecordingPath(const std::string& programFolder, const std::string& streamName);

}  // namespace verbena
