#include "walk/walk.h"

namespace veldro::walk {

void walk_directory(RunSettings& /*s*/, const std::string& /*dir_path*/) {}
bool is_excluded(const RunSettings& /*s*/, const std::string& /*file_name*/) { return false; }
int wildcard_match(const std::string& pattern, const std::string& text) { return pattern == text ? 0 : 1; }

}  // namespace veldro::walk
