// The run from start to exit.
#pragma once

#include <string>
#include <vector>

namespace veldro::driver {

// Runs the program with its arguments (argv[0] first, UTF-8). Never
// returns normally: every end passes through terminate_run.
int run_program(const std::vector<std::string>& args);

}  // namespace veldro::driver
