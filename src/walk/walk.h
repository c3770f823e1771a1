// The depth-first walk of a source root.
#pragma once

#include <string>
#include <string_view>

#include "run/run.h"

namespace veldro::walk {

// Walks one root (internal form, with trailing separator) and everything
// below it, counting (counting_pass) or handing files to the pipeline.
void walk_directory(Run& s, const std::string& dir_path);

// True when the bare file name matches an exclusion pattern.
bool is_excluded(Run& s, std::string_view file_name);

// fnmatch rules without flags over the whole text: true on a match.
bool wildcard_match(const std::string& pattern, const std::string& text);

}  // namespace veldro::walk
