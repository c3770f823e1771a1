#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "platform/system.h"

namespace veldro::platform {

namespace {

// Set by the signal handler and read by every thread that polls for an
// interrupt (the walk, and the workers copying data): a lock-free atomic is
// safe in a handler and between threads, where a volatile flag is only the
// former.
std::atomic<bool> g_interrupt{false};
static_assert(std::atomic<bool>::is_always_lock_free);
int g_pending_key = -1;
bool g_colour_used = false;

extern "C" void record_interrupt(int /*signal*/) {
    g_interrupt.store(true);
}

// Puts the terminal into single-key mode for the life of the object.
class RawTerminal {
public:
    explicit RawTerminal(bool blocking) {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) {
            return;
        }
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = blocking ? 1 : 0;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    RawTerminal(RawTerminal&&) = delete;
    RawTerminal& operator=(RawTerminal&&) = delete;
    ~RawTerminal() {
        if (active_) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        }
    }

private:
    termios saved_{};
    bool active_ = false;
};

bool colour_allowed(int fd) {
    const bool terminal =
        ::isatty(fd) != 0 || routed_to_terminal(fd == STDOUT_FILENO ? StdStream::output : StdStream::error);
    return terminal && std::getenv("NO_COLOR") == nullptr;
}

void reset_colour_at_exit() {
    if (g_colour_used) {
        if (::isatty(STDERR_FILENO) != 0) {
            (void)!::write(STDERR_FILENO, "\x1b[0m", 4);
        }
        if (::isatty(STDOUT_FILENO) != 0) {
            (void)!::write(STDOUT_FILENO, "\x1b[0m", 4);
        }
    }
}

}  // namespace

std::optional<std::string> get_environment(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): single-threaded program
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::int64_t now_seconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

WallInstant now_instant() {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return {now_seconds(), 0};
    }
    return {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

void sleep_seconds(int seconds) {
    timespec left{seconds, 0};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR && !g_interrupt.load()) {
    }
}

bool is_terminal(StdStream stream) {
    return ::isatty(stream == StdStream::output ? STDOUT_FILENO : STDERR_FILENO) != 0 || routed_to_terminal(stream);
}

namespace {

// Descriptors the run keeps for itself: the standard streams, every log,
// companion, manifest and report it may have open, the walk's directory
// and the directories it opens on the way to a deep one.
constexpr rlim_t run_descriptors = 32;
// Descriptors one worker may hold at once: the source and its directory,
// the copy and its directory, a file read back, and one on the way to a
// deep path.
constexpr rlim_t worker_descriptors = 6;

}  // namespace

void raise_open_file_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) {
        return;
    }
    // An unlimited hard limit is not a number the kernel takes for files.
    const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20U : limit.rlim_max;
    if (wanted > limit.rlim_cur) {
        limit.rlim_cur = wanted;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);  // left as it was when refused
    }
}

unsigned worker_thread_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return ~0U;
    }
    if (limit.rlim_cur <= run_descriptors + worker_descriptors) {
        return 1;  // the walking thread does the work itself
    }
    const rlim_t workers = (limit.rlim_cur - run_descriptors) / worker_descriptors;
    return workers >= ~0U ? ~0U : static_cast<unsigned>(workers);
}

bool stdin_is_terminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

void set_console_attribute(StdStream stream, int attribute) {
    const int fd = stream == StdStream::output ? STDOUT_FILENO : STDERR_FILENO;
    if (!colour_allowed(fd)) {
        return;
    }
    std::FILE* file = stream == StdStream::output ? stdout : stderr;
    std::fflush(file);
    const char* sequence = attribute == 12 ? "\x1b[0;91;40m" : attribute == 158 ? "\x1b[0;93;104m" : "\x1b[0m";
    std::fputs(sequence, file);
    std::fflush(file);
    g_colour_used = true;
}

void prepare_console() {
    // A console shows every line at once; a file or pipe gets large
    // buffered writes, flushed when the run ends.
    if (::isatty(STDOUT_FILENO) != 0) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    }
    std::atexit(reset_colour_at_exit);
}

bool key_waiting() {
    if (g_pending_key >= 0) {
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        return false;
    }
    RawTerminal raw(false);
    unsigned char c = 0;
    if (::read(STDIN_FILENO, &c, 1) == 1) {
        g_pending_key = c;
        return true;
    }
    return false;
}

int read_key() {
    if (g_pending_key >= 0) {
        const int key = g_pending_key;
        g_pending_key = -1;
        return key;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::optional<RawTerminal> raw;
    if (::isatty(STDIN_FILENO) != 0) {
        raw.emplace(true);
    }
    // An interrupt that came just before the wait began would not end a
    // blocked read: the wait looks at the request between short polls.
    for (;;) {
        if (interrupt_requested()) {
            return 3;
        }
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&in, 1, 100);
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
        if (ready > 0) {
            unsigned char c = 0;
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n == 1) {
                return c;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return -1;
        }
    }
}

void flush_console_input() {
    g_pending_key = -1;
    if (::isatty(STDIN_FILENO) != 0) {
        ::tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = record_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read returns so the request is seen
    // A lost terminal or session (SIGHUP) and the other signals that would
    // end the process end the run as Ctrl-C does, with every output closed.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) {
        ::sigaction(signal, &action, nullptr);
    }
    // A closed console never ends the run: its writes fail, the logs go on.
    ::signal(SIGPIPE, SIG_IGN);
}

bool interrupt_requested() {
    return g_interrupt.load();
}

void request_interrupt() {
    g_interrupt.store(true);
}

void clear_interrupt_request() {
    g_interrupt.store(false);
}

std::FILE* open_stream(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::FILE* create_new_stream(const std::string& path, bool& existed) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-vararg): open's mode argument
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    existed = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        (void)::unlink(path.c_str());
        errno = error;
    }
    return stream;
}

}  // namespace veldro::platform
