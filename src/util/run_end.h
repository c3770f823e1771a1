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
}  // namespace veldro
