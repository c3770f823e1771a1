// Counting pass and free-space check.
#pragma once

#include <cstdint>

#include "run/run.h"

namespace veldro::driver {

// Walks every root with counting_pass set, checks the free space of the
// destination and reports the totals. Clears counting_pass.
void run_counting_pass(Run& s);

}  // namespace veldro::driver
