// The console on Windows is written directly: there is no console thread,
// so holds are not waited (the run is never slowed for them) and there is
// no status line.
#include "platform/system.h"

namespace veldro::platform {

bool start_console_thread(StatusLineSource /*status*/) {
    return false;
}

bool console_thread_running() {
    return false;
}

bool routed_to_terminal(StdStream /*stream*/) {
    return false;
}

void stop_console_thread() {}

}  // namespace veldro::platform
