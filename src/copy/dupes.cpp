#include "copy/dupes.h"

#include "util/paths.h"

namespace veldro::copy {

std::string flat_destination_dir(RunSettings& /*s*/, const std::string& dest_root) {
    return paths::with_trailing_separator(dest_root);
}
void apply_tilde_rule(RunSettings& /*s*/, std::string& /*destination_file_path*/,
                      const platform::FindRecord& /*entry*/) {}
void rename_duplicates_before_copy(RunSettings& /*s*/, std::string& /*destination_file_path*/) {}
int rename_duplicate(RunSettings& /*s*/, std::string& /*path*/) { return 0; }

}  // namespace veldro::copy
