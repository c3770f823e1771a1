// How a run ends from below the driver: the reasons a run can end with, and
// RunEnd, thrown where a run must stop and caught by the driver, which then
// writes the summary and leaves with the reason as the exit status.
#pragma once

namespace veldro {

enum ExitReason : int {
    NORMAL_EXIT = 0,
    USER_ABORTED = 2,
    INPUT_FILE = 3,
    OUTPUT_FILE = 4,
    PARAMATER_FILE = 5,
    ILLEGAL_OPTION = 6,
    MEMORY_ERROR = 7,
    OTHER_EXIT = 8,
    WRITE_ERROR = 9,
    READ_ERROR = 11,
    NON_SPECIFIC_ERROR = 13,
};

namespace util {

struct RunEnd {
    int reason = NORMAL_EXIT;
    // False for the few ends that leave at once without a summary (usage
    // text, an unwritable main log).
    bool summary = true;
};

}  // namespace util

// The text of a reason code ("" for the codes that have none).
const char* exit_reason_text(int reason);

// Ends the run as an abort (USER_ABORTED) when an interrupt (Ctrl-C,
// SIGTERM) has been recorded. Called by every long loop; the interrupt
// handler itself only records the request.
void check_interrupt();

// Ctrl-C or Escape typed at the console: reads a key when one is waiting
// (never without a terminal) and, for one of those two, records an
// interrupt, so that work under way on any thread stops within one buffer.
// True when it did.
bool take_abort_key();

// platform::pause_seconds that ends early on Ctrl-C or Escape (looked for
// once a second) or a recorded interrupt.
void pause_watching_abort_key(int seconds);

}  // namespace veldro
