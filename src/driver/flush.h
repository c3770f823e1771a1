// Durable before done: what the run wrote is pushed from the caches to the
// drives before the run says it has finished.
#pragma once

#include "run/run.h"

namespace veldro::driver {

// Flushes the file systems holding the destination and every file the run
// writes besides the copies (logs, hash log, manifests, report). With
// `say_time`, the console says how long it took when the run shows a
// summary; a failure is always named on standard error with its reason.
// Returns false when the flush failed.
bool flush_outputs_to_drives(const Run& s, bool say_time);

}  // namespace veldro::driver
