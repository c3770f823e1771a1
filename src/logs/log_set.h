// The log set: default log (the accounting file) and the members chosen by
// the LogMask, their names, headers and opening.
#pragma once

#include <string>

#include "driver/settings.h"

namespace veldro::logs {

// Handles a log value as -1/--LOG/ACCT give it: "name[!|;]mask". Makes
// the log directory, applies the date marker when `apply_marker`, opens the
// default log and every member selected by the mask.
void open_log_set(RunSettings& s, const std::string& value, bool apply_marker);

// Opens (appending, with its separator) the default log named `name`.
void open_default_log(RunSettings& s, const std::string& name);

// The -E error stream.
void open_error_file(RunSettings& s, const std::string& name);

// Creates the directory that will hold a log file.
void make_log_directory(const std::string& log_path);

}  // namespace veldro::logs
