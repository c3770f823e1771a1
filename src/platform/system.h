// Process, clock, environment, console and interrupt services.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>

namespace veldro::platform {

// ---- environment -------------------------------------------------------
std::optional<std::string> get_environment(const char* name);

// ---- clock -------------------------------------------------------------
// Calendar seconds since 1970-01-01 UTC.
std::int64_t now_seconds();
// The same clock to the nanosecond: calendar seconds and the nanoseconds
// within that second, from one reading.
struct WallInstant {
    std::int64_t seconds = 0;
    std::int32_t nanoseconds = 0;
};
WallInstant now_instant();
// Sleeps whole seconds.
void sleep_seconds(int seconds);

// ---- console -----------------------------------------------------------
enum class StdStream : std::uint8_t { output, error };

bool is_terminal(StdStream stream);
bool stdin_is_terminal();

// ---- threads ---------------------------------------------------------
// Raises the number of files the process may hold open to the most the
// system allows it (Linux: the soft limit to the hard one), so that the
// walk and the workers meet no artificial shortage. Called once at start.
void raise_open_file_limit();
// How many threads may do the data work of files at once, beyond the
// number the options allow. On Linux each worker holds a few files open at
// once (its source, its copy, the directories kept open for them, a file
// read back), so the workers are as many as the open-files limit has room
// for beside the run's own logs and the walk's directory: a tree of any
// depth under any thread count is walked and copied without running out of
// descriptors. Unlimited on Windows. What a worker keeps for its thread it
// releases itself before it ends (platform::ThreadOwned), which the Windows
// runtime needs (see platform/thread_owned.h).
unsigned worker_thread_limit();
// A pause that lets a person read the console: waits whole seconds, and
// returns at once when neither standard output nor standard error is a
// terminal (nobody is there to read).
void pause_seconds(int seconds);
// Sets the text colour attribute (12 = bright red, 158 = bright yellow on
// bright blue) of a console stream; nothing happens when the stream is not
// a console or colour is switched off.
void set_console_attribute(StdStream stream, int attribute);
// Makes the standard output stream unbuffered and prepares the console for
// UTF-8 text.
void prepare_console();
// A key is waiting on the console (never true without a terminal).
bool key_waiting();
// Reads one key without echo; returns the character code or -1 at end of
// input. Without a terminal it reads one byte of standard input.
int read_key();
// Discards typed-ahead console input.
void flush_console_input();

// ---- interrupt ---------------------------------------------------------
// Installs the interrupt handler (Ctrl-C; on Linux also SIGTERM, SIGHUP,
// SIGQUIT, SIGUSR1 and SIGUSR2). The handler only records the request; the
// run's loops poll it.
void install_interrupt_handler();
bool interrupt_requested();
// Records a request as the handler does (an abort key read at the console),
// so that every loop that polls for one stops as it would for Ctrl-C.
void request_interrupt();
// For tests: clears a recorded request.
void clear_interrupt_request();

// ---- files as stdio streams -------------------------------------------
// fopen with a UTF-8 path (converted to UTF-16 on Windows).
std::FILE* open_stream(const std::string& path, const char* mode);
// Creates a file that did not exist and opens it for writing (binary):
// the creation is exclusive (O_EXCL / CREATE_NEW), so that two processes
// never both take one name, and never goes through a link standing at the
// path. Null when no file was created; `existed` then tells whether
// something stood at the path already.
std::FILE* create_new_stream(const std::string& path, bool& existed);

// The reason the last failed call of this layer gave (errno on Linux, the
// Windows error code on Windows), to be read right after the failure.
std::error_code last_error();

// The reason in words, as a failure line ends with it.
std::string error_text(const std::error_code& error);

}  // namespace veldro::platform
