// How source roots and file-type patterns enter the run.
#pragma once

#include <cstdint>
#include <string>

#include "run/run.h"

namespace veldro::walk {

// Normalises and adds a source root (-p, --PATH, INI PATH, the working
// directory). A root that does not exist ends the run with INPUT_FILE; a
// path naming a file becomes its directory plus a type pattern.
void add_source_path(OptionTarget& s, const std::string& path);

// How a destination and a source root lie to each other.
enum class Overlap : std::uint8_t { none, same, destination_inside, destination_contains };

// Compares the two as the file system sees them: links resolved, and the
// identity of each directory on the way, so that two spellings of one
// directory (a link, a bind mount, letter case) are still one directory.
Overlap overlap_of(const std::string& source_root, const std::string& destination);

// Before anything is copied: a destination that is a source root, lies
// inside one or contains one would copy the evidence onto itself or into
// itself, and ends the run with ILLEGAL_OPTION and a message saying which.
void refuse_overlapping_destination(Run& s);

// True when `destination` names the file `source` itself.
bool is_same_file(const std::string& source, const std::string& destination);

// Adds a type pattern unless an identical one is listed already.
void add_type_pattern(OptionTarget& s, const std::string& pattern);

}  // namespace veldro::walk
