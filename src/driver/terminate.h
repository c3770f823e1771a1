// Ending a run: exit reasons and terminate_run, the only way out.
#pragma once

#include "run/run.h"
#include "util/run_end.h"

namespace veldro {

// The run being carried out, set by the driver; the interrupt path and
// terminate_run reach the run through it.
Run& live_run();
void set_live_run(Run* run);

// Writes the summaries, closes every log and exits the process with
// `reason` as its status. Works on the live Run.
[[noreturn]] void terminate_run(int reason);

// Ends the process at once with `status`, without a summary. For the few
// exits that happen before a run exists (usage text, impossible dates).
[[noreturn]] void exit_without_summary(int status);

}  // namespace veldro
