// The throughput lines of the console: the rate so far and, when the
// counting pass gave a total, the time that remains.
#pragma once

#include <cstdint>

#include "run/run.h"

namespace veldro::record {

// Notes when the copying started, for the rates that follow.
void start_progress_clock(Run& s);
// Writes the rate (and the time remaining when `total_bytes` is known).
void show_throughput(Run& s, std::int64_t total_bytes, std::int64_t done_bytes);

}  // namespace veldro::record
