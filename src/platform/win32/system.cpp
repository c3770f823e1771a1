#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

volatile LONG g_interrupt = 0;

// Closing the console window (or logging off, or shutting down) ends the
// process as soon as this handler returns: the handler records the
// interrupt and then waits, within the seconds the system allows, so that
// the run ends through its own ending (summary, closing log lines, no
// temporary file left), which exits the process while this thread waits.
BOOL WINAPI console_control(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        InterlockedExchange(&g_interrupt, 1);
        return TRUE;
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        InterlockedExchange(&g_interrupt, 1);
        Sleep(4500);
        return TRUE;
    }
    return FALSE;
}

HANDLE std_handle(StdStream stream) {
    return GetStdHandle(stream == StdStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != 0;
}

}  // namespace

std::optional<std::string> get_environment(const char* name) {
    const std::wstring wide_name = win32::to_wide(name);
    const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (n == 0) {
        return std::nullopt;
    }
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wide_name.c_str(), value.data(), n);
    value.resize(got);
    return win32::from_wide(value);
}

std::int64_t now_seconds() {
    return static_cast<std::int64_t>(_time64(nullptr));
}

WallInstant now_instant() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);  // the precise form needs Windows 8
    // 100-nanosecond ticks since 1601-01-01 UTC.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return {static_cast<std::int64_t>(ticks / ticks_per_second) - seconds_1601_to_1970,
            static_cast<std::int32_t>(ticks % ticks_per_second) * 100};
}

void sleep_seconds(int seconds) {
    for (int i = 0; i < seconds * 10 && g_interrupt == 0; ++i) {
        Sleep(100);
    }
}

// A console, not merely a character device: the C runtime's isatty also
// says yes for NUL, which would leave a scripted run waiting for keys.
bool is_terminal(StdStream stream) {
    return is_console(std_handle(stream));
}

void raise_open_file_limit() {
    // Handles are limited only by memory.
}

unsigned worker_thread_limit() {
    return ~0U;
}

bool stdin_is_terminal() {
    return is_console(GetStdHandle(STD_INPUT_HANDLE));
}

void set_console_attribute(StdStream stream, int attribute) {
    HANDLE h = std_handle(stream);
    if (!is_console(h)) {
        return;
    }
    std::fflush(stream == StdStream::output ? stdout : stderr);
    SetConsoleTextAttribute(h, static_cast<WORD>(attribute));
}

void prepare_console() {
    SetConsoleOutputCP(CP_UTF8);
    if (is_terminal(StdStream::output)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    }
}

bool key_waiting() {
    return stdin_is_terminal() && _kbhit() != 0;
}

int read_key() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (stdin_is_terminal()) {
        return _getch();
    }
    const int c = std::fgetc(stdin);
    return c == EOF ? -1 : c;
}

void flush_console_input() {
    if (stdin_is_terminal()) {
        FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
    }
}

void install_interrupt_handler() {
    SetConsoleCtrlHandler(console_control, TRUE);
}

bool interrupt_requested() {
    return g_interrupt != 0;
}

void request_interrupt() {
    InterlockedExchange(&g_interrupt, 1);
}

void clear_interrupt_request() {
    InterlockedExchange(&g_interrupt, 0);
}

std::FILE* open_stream(const std::string& path, const char* mode) {
    return _wfopen(win32::to_wide_path(path).c_str(), win32::to_wide(mode).c_str());
}

std::FILE* create_new_stream(const std::string& path, bool& existed) {
    const std::wstring wide = win32::to_wide_path(path);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        existed = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    existed = false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(wide.c_str());
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
        DeleteFileW(wide.c_str());
    }
    return stream;
}

}  // namespace veldro::platform
