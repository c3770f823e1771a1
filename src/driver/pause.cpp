#include "driver/pause.h"

#include <cstdio>

#include "platform/system.h"

namespace veldro::driver {

void pause_seconds(int seconds) {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef VELDRO_FUZZING
    // A fuzz target has nobody to read the console and must not sleep.
    return;
#endif
    if (!platform::is_terminal(platform::StdStream::output) && !platform::is_terminal(platform::StdStream::error)) {
        return;
    }
    platform::sleep_seconds(seconds);
}

}  // namespace veldro::driver
