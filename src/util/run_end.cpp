#include "util/run_end.h"

#include "platform/system.h"

namespace veldro {

const char* exit_reason_text(int reason) {
    switch (reason) {
        case 0:
        case 1:
            return "NORMAL_EXIT";
        case 2:
            return "USER_ABORTED";
        case 3:
            return "INPUT_FILE";
        case 4:
            return "OUTPUT_FILE";
        case 5:
            return "PARAMATER_FILE";
        case 6:
            return "ILLEGAL or INCOMPLETE OPTION";
        case 7:
            return "MEMORY ERROR";
        case 8:
            return "OTHER_EXIT";
        case 9:
            return "WRITE_ERROR";
        case 11:
            return "READ_ERROR";
        case 13:
            return "NON_SPECIFIC ERROR";
        case 14:
            return "Missing -f filetype (-f *.*)                                       ";
        case 15:
            return "                                      ";
        default:
            return "";
    }
}

bool take_abort_key() {
    static const bool console = platform::stdin_is_terminal();
    if (!console || !platform::key_waiting()) {
        return false;
    }
    const int key = platform::read_key();
    if (key != 3 && key != 27) {
        return false;
    }
    platform::request_interrupt();
    return true;
}

void pause_watching_abort_key(int seconds) {
    for (int i = 0; i < seconds && !take_abort_key() && !platform::interrupt_requested(); ++i) {
        platform::pause_seconds(1);
    }
}

void check_interrupt() {
    if (platform::interrupt_requested()) {
        throw util::RunEnd{USER_ABORTED};
    }
}

}  // namespace veldro
