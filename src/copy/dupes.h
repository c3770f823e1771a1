// Flattening, duplicate renaming and the tilde rule.
#pragma once

#include <string>

#include "driver/settings.h"
#include "platform/fs.h"

namespace veldro::copy {

// The destination directory of a flattened copy: the root, and when due
// a numbered sub-folder. Ends with a separator.
std::string flat_destination_dir(RunSettings& s, const std::string& dest_root);

// With check_tilde == 1, right after the file name is appended.
void apply_tilde_rule(RunSettings& s, std::string& destination_file_path, const platform::FindRecord& entry);

// Just before the copy: --FLAT with --NODUPE, and --NOCASE.
void rename_duplicates_before_copy(RunSettings& s, std::string& destination_file_path);

// Gives the path an indexed name that does not exist yet.
int rename_duplicate(RunSettings& s, std::string& path);

}  // namespace veldro::copy
