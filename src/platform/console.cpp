// Console services shared by both systems, built on the calls of each.
#include <cstdio>

#include "platform/system.h"

namespace veldro::platform {

void pause_seconds(int seconds) {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef VELDRO_FUZZING
    // A fuzz target has nobody to read the console and must not sleep.
    return;
#endif
    if (!is_terminal(StdStream::output) && !is_terminal(StdStream::error)) {
        return;
    }
    sleep_seconds(seconds);
}

}  // namespace veldro::platform
