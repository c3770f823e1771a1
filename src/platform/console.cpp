// Console services shared by both systems, built on the calls of each.
#include <cstdio>
#include <string>

#include "platform/console_screen.h"
#include "platform/system.h"

namespace veldro::platform {

void pause_seconds(int seconds) {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef VELDRO_FUZZING
    // A fuzz target has nobody to read the console and must not sleep.
    return;
#endif
    if (!console_thread_running()) {
        return;
    }
    const std::string marker = console_hold_marker(seconds);
    std::fwrite(marker.data(), 1, marker.size(), stdout);
    std::fflush(stdout);
}

std::FILE* open_null_stream() {
#ifdef _WIN32
    return open_stream("NUL", "w");
#else
    return open_stream("/dev/null", "w");
#endif
}

}  // namespace veldro::platform
