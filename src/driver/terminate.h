// Ending a run: exit reasons and terminate_run, the only way out.
#pragma once

#include "run/run.h"
#include "util/run_end.h"

namespace veldro {

// Writes the summaries of `s`, closes every log and exits the process with
// `reason` as its status.
[[noreturn]] void terminate_run(Run& s, int reason);

// Ends the process at once with `status`, without a summary. For the few
// exits that happen before a run exists (usage text, impossible dates).
[[noreturn]] void exit_without_summary(Run& s, int status);

}  // namespace veldro
