// Times of destination and source directories (-M), with the messages of
// a failure.
#pragma once

#include <string>
#include <system_error>

#include "platform/fs.h"
#include "run/run.h"
#include "times/file_times.h"

namespace veldro::work {

// Writes the saved directory times (s.engine.saved_dir_times) onto the
// directory at `path`, with the messages of a failure; the reason of one.
std::error_code reset_directory_times(Run& s, const std::string& path);

// Writes times onto a directory, with the same messages; the reason of a
// failure.
std::error_code set_directory_times(const std::string& path, const platform::FileTimeSet& times);

}  // namespace veldro::work
