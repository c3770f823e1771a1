#include "walk/sources.h"

namespace veldro::walk {

void add_source_path(RunSettings& s, const std::string& path) { s.paths.source_paths.push_back(path); }
void add_type_pattern(RunSettings& s, const std::string& pattern) { s.selection.type_list.push_back(pattern); }

}  // namespace veldro::walk
