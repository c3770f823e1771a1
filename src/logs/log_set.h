// The log set: the default log (the accounting file) and the members chosen
// by the LogMask, how their names are read and formed, how each is opened and
// the header it receives; the -E error log, the hash log with its companions,
// and the abort-marker file beside the default log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "run/run.h"

namespace veldro::logs {

// ---- reading a log value -----------------------------------------------

// Where a "name[sep]mask" value comes from: each source has its own mask
// rules (see read_log_value).
enum class LogSource : std::uint8_t {
    short_option,  // -1, -2, -3: '!', '|', ';'; "all" anywhere (any case) = 255, else the integer, no cap
    long_option,   // --LOG=, --ACC=: also ':' (not a drive colon); digit first: integer, above 255 all bits;
                   // else the keywords all/list/cop/not/dup/ERR/DIR/UNI (case-sensitive)
};

struct LogValue {
    std::string name;             // the log name (no mask text)
    unsigned mask = 0;            // bits to OR into log_mask
    bool colon_conflict = false;  // --LOG with a drive colon and an option colon: refused
};

// Splits a log value into name and mask by the rules of its source. Pure:
// opens nothing and prints nothing.
LogValue read_log_value(std::string_view value, LogSource source);

// Where a log value's mask text begins: at the first '!', else the first
// '|', else the first ';'. npos when there is none.
std::size_t find_mask_separator(std::string_view value);

// Mask text of --ERR=: digit first: the integer; else the keywords without
// "all" and "uni"; capped at 255.
unsigned read_error_mask(std::string_view text);

// ---- opening -----------------------------------------------------------

// -1/-2/-3 (and ACCT-style names with a mask): reads the value by the
// short-option rules, makes the log directory, applies the date marker when
// `apply_marker`, sets log_base_name, opens the default log, sets the abort
// marker name (log name + "X") and opens every member whose bit is set.
void open_log_set(OptionTarget& s, const std::string& value, bool apply_marker);

// --LOG= / --ACC=: as open_log_set with the long-option rules (and no abort
// marker). A drive colon followed by an option colon prints the "Sorry"
// message and ends the run with ILLEGAL_OPTION. Returns false when the
// default log could not be opened (the option is then illegal).
bool open_long_log_option(OptionTarget& s, const std::string& value);

// --ERR=: ORs the mask in and, when the logs have been named already, opens
// the members of the new bits. Returns false when the text gives no bits.
bool apply_error_mask_option(OptionTarget& s, const std::string& text);

// INI log directive with an already computed mask: makes the directory, sets log_base_name, opens the default
// log when none is open yet, ORs `mask` into log_mask and opens the members
// of the set bits. No date marker. A mask of 0 opens only the default log.
void open_log_members(OptionTarget& s, const std::string& base_name, unsigned mask);

// Opens every member of `mask` (bits 2..128, in that order) that is not open
// yet, named from log_base_name, with its console line and header. A member
// that cannot be opened ends the run with OUTPUT_FILE. The error member
// becomes the error stream unless -E has named one.
void open_members_for_mask(OptionTarget& s, unsigned mask);

// Opens (appending, after prepare_append_file) the default log `name`,
// replacing an earlier default-log stream, and writes its asterisk
// separator. Remembers the name in default_log_path. On failure prints
// "Can't open accounting file %s\n" and returns false; the run goes on.
bool open_default_log(OptionTarget& s, const std::string& name);

// The environment variable ACCT: "ON" names the log "ACCT-ING", any other
// value is the default log's name. Nothing happens when it is unset.
void open_default_log_from_environment(OptionTarget& s);

// -E: makes the directory, opens the error log for appending and makes it the
// error stream; sets error_file_given. Failure ends the run with OUTPUT_FILE.
void open_error_file(OptionTarget& s, const std::string& name);

// -H (with_companions) and -h=/--HASHLOG=: opens the hash log for appending,
// and with -H its "_ERROR" and "_RERUN" companions beside it. Failure ends
// the run with OUTPUT_FILE.
void open_hash_log(OptionTarget& s, const std::string& name, bool with_companions);

// +1/+2/+3: mask 0, the default log closed and no longer written.
void close_log_set(OptionTarget& s);

// ---- names -------------------------------------------------------------

// The file name of a member: drive + directory + base name + suffix +
// extension (".LOG" when the base name has none).
std::string member_name(const std::string& base_name, unsigned bit);
// "_LIST", "_COPIED", ... for bits 2..128; "" otherwise.
const char* member_suffix(unsigned bit);
// The companions of a hash log: "_ERROR" or "_RERUN" before the extension.
std::string hash_companion_name(const std::string& hash_log_name, const char* suffix);

// Rewrites "\MMDD" or "\YYMM" (or with '/', on Linux) in a name: the
// component from the marker on becomes the UTC date as yyyymmdd followed by
// the component's own extension. Names without a marker are returned as they are.
std::string apply_date_marker(const std::string& name);
// The same with a given date (for tests).
std::string apply_date_marker(const std::string& name, int year, int month, int day);

// Creates the directories of a file path, printing a line for each one made.
void make_log_directory(const std::string& log_path);

// ---- the default log file and the abort marker -------------------------

// Makes a text file ready for appending: opens or creates it and cuts a
// trailing run of end-of-file marks (Ctrl-Z) or NUL bytes, so the next text
// follows the last line directly. A file that can be neither opened nor
// created ends the program with status 1.
void prepare_append_file(const std::string& path);

// Creates the abort-marker file (when a name is set) with its warning text.
void create_abort_marker(const Run& s);
// Deletes it at the normal end of a run.
void remove_abort_marker(const Run& s);

// ---- writing -----------------------------------------------------------

// A line of the unicode log (mask 128): UTF-8 text written as UTF-16LE,
// "\n" becoming CR LF.
void write_unicode_text(std::FILE* stream, std::string_view utf8);

}  // namespace veldro::logs
