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
int parse_command_line(OptionTarget& s, const std::vector<std::string>& args);

}  // namespace veldro::config
