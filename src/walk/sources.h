// How source roots and file-type patterns enter the run.
#pragma once

#include <string>

#include "driver/settings.h"

namespace veldro::walk {

// Normalises and adds a source root (-p, --PATH, INI PATH, the working
// directory). A root that does not exist ends the run with INPUT_FILE; a
// path naming a file becomes its directory plus a type pattern.
void add_source_path(RunSettings& s, const std::string& path);

// Adds a type pattern unless an identical one is listed already.
void add_type_pattern(RunSettings& s, const std::string& pattern);

}  // namespace veldro::walk
