// The console thread on Linux: standard output (and standard error on the
// same terminal) become the write end of a pipe; one thread drains the pipe
// at once, so that a writer never waits on the terminal, and another shows
// what was drained through a ConsoleScreen, holds and status line included.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/console_screen.h"
#include "platform/system.h"

namespace veldro::platform {

namespace {

// Output kept back by a hold beyond this is shown at once: a hold never
// costs unbounded memory.
constexpr std::size_t most_held_bytes = std::size_t{16} << 20;
constexpr std::int64_t status_interval_ms = 250;

struct Route {
    int terminal = -1;      // standard output's terminal, as it was
    int error_before = -1;  // standard error's own descriptor, when routed
    int pipe_read = -1;
    StatusLineSource status = nullptr;
    std::mutex lock;
    std::condition_variable wake;
    std::string incoming;  // drained from the pipe, not yet shown
    bool closed = false;
    std::thread drain;
    std::thread show;
};

// Made once and never freed: threads may still write while the process
// ends.
Route* g_route = nullptr;
bool g_stopped = false;

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int screen_width(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

void write_all(int fd, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // a terminal gone away: nothing more can be shown
        }
        at += static_cast<std::size_t>(n);
    }
}

void drain_pipe(Route& r) {
    std::string buffer(std::size_t{1} << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(r.pipe_read, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        const std::lock_guard<std::mutex> hold(r.lock);
        r.incoming.append(buffer.data(), static_cast<std::size_t>(n));
        r.wake.notify_one();
    }
    const std::lock_guard<std::mutex> hold(r.lock);
    r.closed = true;
    r.wake.notify_one();
}

void show_on_terminal(Route& r) {
    ConsoleScreen screen;
    std::string taken;
    std::string out;
    std::string status(512, '\0');
    std::size_t status_length = 0;
    std::int64_t next_status = 0;
    for (;;) {
        bool finish = false;
        {
            std::unique_lock<std::mutex> hold(r.lock);
            const std::int64_t now = now_ms();
            std::int64_t until = next_status;
            if (screen.held(now)) {
                until = std::min(until, screen.hold_until());
            }
            r.wake.wait_for(hold, std::chrono::milliseconds(std::max<std::int64_t>(until - now, 1)),
                            [&r] { return !r.incoming.empty() || r.closed; });
            taken.swap(r.incoming);
            finish = r.closed;
        }
        screen.take(taken);
        taken.clear();
        const std::int64_t now = now_ms();
        const int width = screen_width(r.terminal);
        if (now >= next_status) {
            status_length = r.status != nullptr ? r.status(status.data(), status.size(), width) : 0;
            next_status = now + status_interval_ms;
        }
        if (screen.queued() > most_held_bytes) {
            screen.release_hold();
        }
        screen.render(now, width, std::string_view(status.data(), status_length), finish, out);
        write_all(r.terminal, out);
        out.clear();
        if (finish) {
            return;
        }
    }
}

// The same terminal behind both descriptors.
bool same_terminal(int a, int b) {
    struct stat one {};
    struct stat two {};
    return ::fstat(a, &one) == 0 && ::fstat(b, &two) == 0 && one.st_rdev == two.st_rdev;
}

extern "C" void stop_at_exit() {
    stop_console_thread();
}

}  // namespace

bool start_console_thread(StatusLineSource status) {
    if (g_route != nullptr || ::isatty(STDOUT_FILENO) == 0) {
        return false;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    auto* r = new Route;  // NOLINT(cppcoreguidelines-owning-memory): lives as long as the process
    r->status = status;
    r->pipe_read = ends[0];
    r->terminal = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const bool route_errors = ::isatty(STDERR_FILENO) != 0 && same_terminal(STDOUT_FILENO, STDERR_FILENO);
    if (route_errors) {
        r->error_before = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    }
    if (r->terminal < 0 || (route_errors && r->error_before < 0)) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(ends[1], STDOUT_FILENO);
    if (route_errors) {
        ::dup2(ends[1], STDERR_FILENO);
    }
    ::close(ends[1]);
    r->drain = std::thread(drain_pipe, std::ref(*r));
    r->show = std::thread(show_on_terminal, std::ref(*r));
    g_route = r;
    std::atexit(stop_at_exit);
    return true;
}

bool console_thread_running() {
    return g_route != nullptr && !g_stopped;
}

bool routed_to_terminal(StdStream stream) {
    return console_thread_running() && (stream == StdStream::output || g_route->error_before >= 0);
}

void stop_console_thread() {
    if (!console_thread_running()) {
        return;
    }
    g_stopped = true;
    Route& r = *g_route;
    std::fflush(stdout);
    std::fflush(stderr);
    // The pipe's last write ends close: the drain reads its end, and the
    // screen shows the rest.
    ::dup2(r.terminal, STDOUT_FILENO);
    if (r.error_before >= 0) {
        ::dup2(r.error_before, STDERR_FILENO);
    }
    r.drain.join();
    r.show.join();
}

}  // namespace veldro::platform
