// Counting pass, free-space check and throughput lines.
#pragma once

#include <cstdint>

#include "driver/settings.h"

namespace veldro::driver {

void start_progress_clock(RunSettings& s);
// Walks every root with counting_pass set, checks the free space of the
// destination and reports the totals. Clears counting_pass.
void run_counting_pass(RunSettings& s);
void show_throughput(RunSettings& s, std::int64_t total_bytes, std::int64_t done_bytes);

}  // namespace veldro::driver
