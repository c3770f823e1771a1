// Counting pass and free-space check.
#pragma once

#include <cstdint>

#include "run/run.h"

namespace veldro::driver {

// Walks every root with counting_pass set, checks the free space of the
// destination and reports the totals. Clears counting_pass.
void run_counting_pass(Run& s);

// The files are worked on from here: a terminal shows the live status line,
// and with --QUIET the lines of each file are not shown.
void begin_file_work(Run& s);
// The files are done: the status line goes, and the console is the
// summary's again.
void end_file_work(Run& s);

}  // namespace veldro::driver
