// Ending a run: exit reasons and terminate_run, the only way out.
#pragma once

#include "util/run_end.h"

namespace veldro {

// The text of a reason code ("" for the codes that have none).
const char* exit_reason_text(int reason);

// Writes the summaries, closes every log and exits the process with
// `reason` as its status. Works on the live RunSettings.
[[noreturn]] void terminate_run(int reason);

// Checks for a recorded interrupt (Ctrl-C, SIGTERM) and ends the run with
// USER_ABORTED when there is one. Called by every long loop.
void check_interrupt();

// Ends the process at once with `status`, without a summary. For the few
// exits that happen before a run exists (usage text, impossible dates).
[[noreturn]] void exit_without_summary(int status);

}  // namespace veldro
