// Bypass entries: directories the walk never enters.
#pragma once

#include <string>
#include <string_view>

#include "run/run.h"
#include "util/paths.h"

namespace veldro::walk {

// True when the directory is the bypass entry or lies below it, compared
// on whole path components (an entry for /x/case covers /x/case/sub, not
// /x/case_files or /x/case2). Letter case is ignored only in the Windows
// style, where the file system ignores it too: on Linux /x/Case is other
// evidence. Trailing separators on either side do not matter.
bool bypass_covers(std::string_view entry, std::string_view directory, paths::Style style = paths::native_style);

// True when a bypass entry covers the directory. Outside the counting pass
// the skipped directory is named on the console and in the default log, so
// that what was left out is on record.
bool skip_bypassed(Run& s, const std::string& directory);

}  // namespace veldro::walk
