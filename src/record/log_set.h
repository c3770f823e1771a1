// The log set: the default log (the accounting file) and the members chosen
// by the LogMask, how their names are read and formed, how each is opened and
// the header it receives; the -E error log, the hash log with its companions,
// and the abort-marker file beside the default log. While the options are
// read these files are only named (in Options::named_files); the run opens
// every file so named, the --UNICODE list, the memo file and the file list
// included, once the options are read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "run/run.h"

namespace veldro::record {

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

// ---- naming (while the options are read; nothing is opened) -------------

// -1/-2/-3: reads the value by the short-option rules, applies the date
// marker when `apply_marker`, sets log_base_name and the abort marker name
// (log name + "X"), ORs the mask in and records the set to open.
void name_log_set(Options& o, const std::string& value, bool apply_marker);

// --LOG= / --ACC=: as name_log_set with the long-option rules (and no abort
// marker); `option` is the option's text for the message when the default
// log cannot be opened. A drive colon followed by an option colon names
// nothing and gives false: the option is refused with colon_conflict_text.
bool name_long_log(Options& o, const std::string& value, std::string_view option);
inline constexpr const char* colon_conflict_text =
    "\n\nSorry: Can't have a drive letter/colon and a log option colon. \nReplace option colon with ! and re-run\n\n";

// --ERR=: ORs the mask in and, when the logs have been named already,
// records the members of the new bits. Returns false when the text is empty.
bool add_error_mask(Options& o, const std::string& text);

// INI log directive with an already computed mask: sets log_base_name, ORs
// `mask` in and records the default log (unless one is open by then) and
// the members. No date marker. A mask of 0 names only the default log.
void name_ini_logs(Options& o, const std::string& base_name, unsigned mask);

// INI LOGS= with keywords only: ORs `mask` in and records its members when
// the logs have been named.
void add_log_members(Options& o, unsigned mask);

// The environment variable ACCT: "ON" names the log "ACCT-ING", any other
// value is the default log's name. Nothing happens when it is unset.
void name_default_log_from_environment(Options& o);

// -E: records the error log and sets error_file_given.
void name_error_file(Options& o, const std::string& name);

// -H (with_companions) and -h=/--HASHLOG=: records the hash log (and with
// -H its "_ERROR" and "_RERUN" companions) and sets hash_log_path.
void name_hash_log(Options& o, const std::string& name, bool with_companions);

// +1/+2/+3: mask 0, the default log closed and no longer written.
void drop_log_set(Options& o);

// ---- opening (by the driver, once the options are read) ----------------

// Opens every named file in the order named, then forgets the names. Each
// kind prints its console lines and writes its headers as it opens:
// directories made, "Opened ..." lines of the members, the byte-order mark
// of the --UNICODE list; the file list's lines are counted into
// expected_files. The error member becomes the error stream unless -E named
// one; a default log opened sets default_log_path.
void open_named_files(Options& o, OpenFiles& files);

// Opens every member of `mask` (bits 2..128, in that order) that is not open
// yet, named from `base_name`, with its console line and header. A member
// that cannot be opened ends the run with OUTPUT_FILE.
void open_members_for_mask(OpenFiles& files, const std::string& base_name, unsigned mask);

// Opens (appending, after prepare_append_file) the default log `name`,
// replacing an earlier default-log stream, and writes its asterisk
// separator. Remembers the name in default_log_path. On failure prints
// "Can't open accounting file %s\n" and returns false; the run goes on.
bool open_default_log(LogOptions& logs, OpenFiles& files, const std::string& name);

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

// The first line of the renamed-files log: whether tilde names are checked.
void write_tilde_note(OpenFiles& files, bool check_tilde);

// Creates the abort-marker file (when a name is set) with its warning text.
void create_abort_marker(Run& s);
// Deletes it at the normal end of a run.
void remove_abort_marker(const Run& s);

// ---- writing -----------------------------------------------------------

// A line of the unicode log (mask 128): UTF-8 text written as UTF-16LE,
// "\n" becoming CR LF.
void write_unicode_text(std::FILE* stream, std::string_view utf8);

}  // namespace veldro::record
