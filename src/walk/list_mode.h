// File-list (-S) and directory-list (--dirs) modes.
#pragma once

#include <cstdio>
#include <string>

#include "run/run.h"
#include "util/paths.h"

namespace veldro::walk {

// Copies every file named in the open list file into the destination
// tree, each below the destination under its own path; with --TEST only
// checks that each exists. Returns the copies made.
int run_file_list(Run& s);

// Reads an open directory-list file into source_paths: each line naming a
// directory becomes one more root (in internal form, without a trailing
// separator, like every other root). Closes the file.
void read_dirs_list(OptionTarget& s, std::FILE* file);

// A file-list line as the list mode uses it: cut at the first '|', with
// trailing blanks and line ends removed (leading blanks are kept). False
// when nothing is left: a blank line, skipped and counted.
bool clean_file_list_line(std::string& line);

// A directory-list line (as read, without its line feed): trailing blanks
// and line ends removed, cut at the first '|', trailing blanks removed
// again. False when the line ends the list (fewer than 3 bytes with its
// line end); the cleaned line may then still be empty.
bool clean_dirs_list_line(std::string& line);

}  // namespace veldro::walk
