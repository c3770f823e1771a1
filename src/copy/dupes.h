// Flattening, duplicate renaming and the tilde rule: the three ways a
// destination name is changed so that a copy does not replace a file it
// should not replace.
#pragma once

#include <string>

#include "driver/settings.h"
#include "platform/fs.h"

namespace veldro::copy {

// The destination directory of a flattened copy: the root with a
// separator and, with --FLAT=n for n above 5, the numbered sub-folder
// ("0001/", "0002/", ...) that the count of copies made so far puts the
// next file in. Ends with a separator.
std::string flat_destination_dir(RunSettings& s, const std::string& dest_root);

// The tilde rule, with check_tilde == 1, right after the file name is
// appended: a source whose long name has a '~' among its first eight
// characters and whose destination exists gets a ".D[nnnnn]" suffix (and
// more until the name is free); the rename goes to the dupes log and the
// console.
void apply_tilde_rule(RunSettings& s, std::string& destination_file_path, const platform::FindRecord& entry);

// Just before the copy: --FLAT with --NODUPE renames an existing
// destination, then --NOCASE renames one that exists ignoring case.
void rename_duplicates_before_copy(RunSettings& s, std::string& destination_file_path);

// Rewrites the path as directory + base name + "[nnnn]" + extension with
// the first index, from dupe_index on, whose name is still free; moves
// dupe_index past it and records it in highest_dupe_index. Returns 0.
int rename_duplicate(RunSettings& s, std::string& path);

}  // namespace veldro::copy
