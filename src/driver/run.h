// The run from start to exit.
#pragma once

#include <string>
#include <vector>

#include "run/run.h"

namespace veldro::driver {

// Runs the program with its arguments (argv[0] first, UTF-8). Never
// returns normally: every end passes through terminate_run.
int run_program(const std::vector<std::string>& args);

// Reads the options (environment, INI file, command line), then opens the
// files they named, in the order named, and makes the closing checks and
// the memo. When an option error ends the run, the files named before it
// are opened first, so that the run leaves the same files whatever ended it.
// Returns 1 plus the number of leading positional arguments.
int read_options(OwnedRun& r, const std::vector<std::string>& args);

// Memory that cannot be had ends the run through terminate_run with
// MEMORY ERROR (7), wherever it was asked for, instead of an abort that
// writes no summary and closes no log.
void install_memory_handler();

}  // namespace veldro::driver
