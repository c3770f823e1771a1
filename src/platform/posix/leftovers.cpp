#include "platform/leftovers.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace veldro::platform {

namespace {

struct ProcessLook {
    bool found = false;
    bool ended = false;  // a zombie: killed, not yet reaped
    std::string name;    // the command name the system keeps
};

// Reads /proc/<pid>/stat ("pid (name) state ..."): the name and whether
// the process has ended. `found` false when there is no such process.
ProcessLook look_at(const char* stat_path, int& error) {
    ProcessLook look;
    error = 0;
    const int fd = ::open(stat_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return look;
    }
    char text[512];  // NOLINT(modernize-avoid-c-arrays)
    ssize_t got = 0;
    do {
        got = ::read(fd, text, sizeof text - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0) {
        error = got < 0 ? errno : EIO;
        return look;
    }
    const std::string_view line(text, static_cast<std::size_t>(got));
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open || close + 2 >= line.size()) {
        error = EIO;
        return look;
    }
    look.found = true;
    look.name.assign(line.substr(open + 1, close - open - 1));
    const char state = line[close + 2];
    look.ended = state == 'Z' || state == 'X';
    return look;
}

}  // namespace

ProcessState process_state(std::uint64_t pid) {
    static const auto self = static_cast<std::uint64_t>(::getpid());
    if (pid == self) {
        return ProcessState::this_process;
    }
    if (pid == 0 || pid > 0x3fffffffU) {
        return ProcessState::gone;  // no process can have it
    }
    char path[64];  // NOLINT(modernize-avoid-c-arrays)
    std::snprintf(path, sizeof path, "/proc/%llu/stat", static_cast<unsigned long long>(pid));
    int error = 0;
    const ProcessLook other = look_at(path, error);
    if (!other.found) {
        if (error == ENOENT || error == ESRCH) {
            return ProcessState::gone;
        }
        // No /proc to look in: only whether the process exists can be told.
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            return ProcessState::gone;
        }
        return ProcessState::unknown;
    }
    if (other.ended) {
        return ProcessState::gone;
    }
    int self_error = 0;
    const ProcessLook own = look_at("/proc/self/stat", self_error);
    if (!own.found) {
        return ProcessState::unknown;
    }
    return other.name == own.name ? ProcessState::running : ProcessState::gone;
}

}  // namespace veldro::platform
