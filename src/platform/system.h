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

// True also for a stream the console thread carries to a terminal.
bool is_terminal(StdStream stream);
// The stream goes through the console thread to a terminal.
bool routed_to_terminal(StdStream stream);
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
// A pause that lets a person read the console: what is written after it is
// shown no sooner than `seconds` after what was written before it. Only the
// screen waits: the call returns at once, and the run goes on. Nothing is
// held when standard output is not a terminal (nobody is there to read) or
// there is no console thread to hold it.
void pause_seconds(int seconds);
// Sets the text colour attribute (12 = bright red, 158 = bright yellow on
// bright blue) of a console stream; nothing happens when the stream is not
// a console or colour is switched off.
void set_console_attribute(StdStream stream, int attribute);
// Makes the standard output stream unbuffered and prepares the console for
// UTF-8 text.
void prepare_console();
// ---- the console thread ------------------------------------------------
// Writes the live status line into `out` (at most `capacity` bytes of
// printable ASCII, for a screen `width` columns wide) and returns its length;
// 0 when there is none to show now. Called on the console thread only, at
// most four times a second, so it must not block.
using StatusLineSource = std::size_t (*)(char* out, std::size_t capacity, int width);
// With standard output on a terminal, routes it (and standard error when it
// is the same terminal) through a thread that owns the terminal: what the
// run writes is shown in its order and never makes the writer wait, a hold
// (pause_seconds) delays only what is shown after it, and `status` gives a
// line kept below the last line written, erased before any other is shown.
// False, with nothing changed, when standard output is no terminal or the
// system offers no such route.
bool start_console_thread(StatusLineSource status);
// Shows what is still queued at once (a hold under way is cut short), takes
// the status line away and gives the streams back to the terminal. Also run
// at exit; a second call does nothing.
void stop_console_thread();
bool console_thread_running();
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
// A stream whose text goes nowhere (the null device).
std::FILE* open_null_stream();

// The reason the last failed call of this layer gave (errno on Linux, the
// Windows error code on Windows), to be read right after the failure.
std::error_code last_error();

// The reason in words, as a failure line ends with it.
std::string error_text(const std::error_code& error);

// True when the error says only that nothing stands at the path: any other
// failure to look (no permission, an I/O error) says nothing of what is there.
bool is_not_found(const std::error_code& error);

}  // namespace veldro::platform
