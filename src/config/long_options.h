// Long options: the keywords after "--".
#pragma once

#include <string>
#include <string_view>

#include "config/option_table.h"
#include "run/run.h"
#include "util/paths.h"

namespace veldro::config {

// The long-option keywords are the options of the one table.
using LongKeyword = Option;

// The keyword the text names, ignoring case: the keyword's word or a
// shortening of it down to its fewest letters, or one of its other words
// (--logfile, --logs and --LOG are one option).
LongKeyword match_long_keyword(std::string_view text);

// Handles the text after "--". Returns 0 when the keyword was handled,
// nonzero when a value it needs is missing or outside its allowed set, or a
// switch was given a value (the caller reports "Illegal option" and ends
// the run). A word that names no keyword is refused with "Unknown option"
// (and the keyword it is close to). Input files that cannot be opened end
// the run themselves where their option says so.
int parse_long_option(OptionTarget& s, std::string_view text);

// A bypass entry in internal form. A trailing separator as typed is kept,
// so that an entry for /data/temp/ does not also cover /data/templates/.
std::string bypass_entry(std::string_view value);

}  // namespace veldro::config
