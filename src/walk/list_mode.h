// File-list (-S) and directory-list (--dirs) modes.
#pragma once

#include <cstdio>

#include "driver/settings.h"

namespace veldro::walk {

// Copies every file named in the open list file; returns the copies made.
int run_file_list(RunSettings& s);

// Reads an open directory-list file into source_paths.
void read_dirs_list(RunSettings& s, std::FILE* file);

}  // namespace veldro::walk
