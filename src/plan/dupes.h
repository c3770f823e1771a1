// Flattening, duplicate renaming and the tilde rule: the three ways a
// destination name is changed so that a copy does not replace a file it
// should not replace.
#pragma once

#include <string>

#include "platform/fs.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::plan {

// The destination directory of a flattened copy: the root with a
// separator and, with --FLAT=n for n above 5, the numbered sub-folder
// ("0001/", "0002/", ...) that the count of copies made so far puts the
// next file in. Ends with a separator.
std::string flat_destination_dir(Run& s, const std::string& dest_root);

// The tilde rule, with check_tilde == 1, right after the file name is
// appended: a source whose long name has a '~' among its first eight
// characters and whose destination exists gets a ".D[nnnnn]" suffix (and
// more until the name is free); the rename is an event of the file, which
// its record puts in the dupes log and on the console.
void apply_tilde_rule(Run& s, std::string& destination_file_path, const platform::FindRecord& entry,
                      PlanEvents& events);

// True when something stands at the path or, on Linux, its directory
// holds a name equal to the path's last component ignoring the case of
// ASCII letters: the clash a case-insensitive destination would suffer.
// Each destination directory is read once and then kept in the run's
// index while the run writes into it.
bool exists_ignoring_case(Run& s, const std::string& path);

// A copy this run made from `source`: later files of the same name from
// other sources are renamed beside it instead of replacing it.
void note_copy_written(Run& s, const std::string& path, const std::string& source);

// A destination this run already wrote from another source is given an
// indexed name, as a duplicate is: a copy made earlier in the run is never
// replaced.
void rename_if_written_by_run(Run& s, std::string& destination_file_path, const std::string& source,
                              PlanEvents& events);

// Just before the copy: --FLAT with --NODUPE renames an existing
// destination, then --NOCASE renames one that exists ignoring case.
void rename_duplicates_before_copy(Run& s, std::string& destination_file_path, PlanEvents& events);

// Rewrites the path as directory + base name + "[nnnn]" + extension with
// the first index, from dupe_index on, whose name is still free; moves
// dupe_index past it and records it in highest_dupe_index. Returns 0.
int rename_duplicate(Run& s, std::string& path, PlanEvents& events);

}  // namespace veldro::plan
