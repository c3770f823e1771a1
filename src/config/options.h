// Command line: positional arguments and short options.
#pragma once

#include <string>
#include <vector>

#include "run/run.h"

namespace veldro::config {

// Reads the environment (ACCT, RESET, WIDTH), the INI file and the
// arguments (argv[0] first) into the settings, then makes the closing
// checks. Returns 1 plus the number of leading positional arguments. Ends
// the run itself on bad options (ILLEGAL_OPTION) and on input files that
// cannot be read (INPUT_FILE).
// The options only name the files they need: the run opens them after this
// returns (and, when an option error ends the run, the ones named before it).
int parse_command_line(OptionTarget& s, const std::vector<std::string>& args);

// The closing checks, once the named files are open: "INI PROCESSED", a
// missing path or destination, --TEST without a list (both end the run with
// ILLEGAL_OPTION), and the RESET notice.
void check_required_options(const Options& o);

}  // namespace veldro::config
