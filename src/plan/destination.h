// Destination paths: where a source file's copy goes, the directories on
// the way, and -M's directories dated like their sources.
#pragma once

#include <string>
#include <system_error>

#include "platform/fs.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::plan {

// The destination directory of files found in `directory` (a directory of
// the root being walked, ending in a separator): the destination root
// plus the directory below the source root, or with --FLAT the flat
// folder. Ends with a separator. Written into `out`.
void destination_dir_for(Run& s, const std::string& directory, std::string& out);

// Builds s.engine.destination_dir and s.engine.destination_file_path for a
// file; unless list_only, makes the directories on the way. Returns the
// result of make_directory_path, which tells `events` of the directories it
// makes.
std::error_code build_destination_path(Run& s, const std::string& directory, const std::string& name,
                                       PlanEvents* events = nullptr);

// Creates each missing directory along `path` (which ends in a
// separator), telling of each and, with -M, giving it the saved directory
// times. No error when the path now is
// a directory that can be written into, otherwise the reason ("not a
// directory" where something else stands in the way): below the destination
// root nothing is ever created or written through a symbolic link (or a
// file) standing in the way.
// With `events` (the file being decided) a directory made, one that cannot
// be dated and a leftover temporary file found in a directory are events of
// that file, written by its record; without (the destination made before
// the walk), they are said at once.
std::error_code make_directory_path(Run& s, const std::string& path, bool date_made_dirs, PlanEvents* events = nullptr);

// Reads the times of the directory at `path` into the saved directory
// times. False when nothing is found there.
bool capture_directory_times(Run& s, const std::string& path);

// -M: makes the destination directories that correspond to the source
// directory (compared by name component), each dated like its source
// directory; other directories of the destination root chain are made
// without dates.
void maintain_directory_chain(Run& s, const std::string& source_dir, const std::string& dest_root,
                              const std::string& first_root);

}  // namespace veldro::plan
