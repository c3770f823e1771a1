// Options: what the user asked for, read once (environment, then the INI
// file, then the command line) and never changed once the run starts.
// Below the driver every module sees them as `const Options&`.
// Field names follow the program's own texts (lower case, underscores).
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"

namespace veldro {

// Limits of the lists, as the option texts promise them.
inline constexpr std::size_t max_source_paths = 300;
inline constexpr std::size_t max_type_patterns = 300;
inline constexpr std::size_t max_exclude_patterns = 256;
inline constexpr std::size_t max_bypass_paths = 500;

// LogMask bits and the members they open.
enum LogBit : unsigned {
    log_default = 1,
    log_list = 2,
    log_copied = 4,
    log_not_copied = 8,
    log_error = 16,
    log_dupes = 32,
    log_dir_counts = 64,
    log_unicode = 128,
};

// -n lists each file that would be copied; -N lists it with its destination.
enum class ListOnly : std::uint8_t { off, names, with_destinations };

struct PathOptions {
    std::vector<std::string> source_paths;         // roots, internal form, no trailing separator
    std::vector<std::size_t> source_root_lengths;  // length of each root as stored
    bool path_given = false;
    std::string dest_path;   // destination, internal form
    std::string dest_named;  // the destination directory as the user named it (-d, -D, --DES)
    bool dest_given = false;
    int dest_drive_index = 0;
    bool drive_only_dest = false;     // -D
    bool make_dirs = false;           // -m
    bool maintain_dir_dates = false;  // -M
    bool upper_case_dirs = true;      // -U clears
    bool dirs_list_mode = false;      // --dirs
    bool list_file_mode = false;      // -S / --list
    std::string list_file_path;       // the file list (-S / --list)
    int expected_files = 0;           // lines of the file list
    bool test_mode = false;           // --TEST
    bool shadow_copy = false;         // --SHADOW_COPY
};

struct SelectionOptions {
    std::vector<std::string> type_list;  // file-type patterns
    bool type_file_given = false;
    bool exclude_mode = false;
    bool exclude_keep_case = false;  // -X
    std::vector<std::string> exclude_list;
    bool bypass_mode = false;
    std::vector<std::string> bypass_list;  // internal form
    bool recurse = true;
    bool copy_all = false;    // -A
    bool exist_only = false;  // -e
    bool age_select = false;
    bool older_select = false;
    int older_days = 0;
    std::uint64_t older_cutoff = 0;  // file time
    bool younger_select = false;
    int younger_days = 80000;
    std::uint64_t younger_cutoff = 0;  // file time
    char date_use_access = 0;          // 'a' when set
    char date_use_create = 0;
    char date_use_write = 0;
    bool greater_select = false;
    std::int64_t greater_size = 0;
    bool less_select = false;
    std::int64_t less_size = 0;
    int time_field = 'w';      // -T: A, C, W or 3
    bool attr_filter = false;  // -a
    int attr_dir_count = 0;    // 1: only files with the directory bit, 2: only without
    bool attr_encrypted = false;
    bool attr_hidden = false;
    bool attr_archive = false;
    bool attr_readonly = false;
    bool attr_system = false;
};

struct CopyOptions {
    ListOnly list_only = ListOnly::off;  // -n / -N
    bool overwrite_protected = false;    // -O
    bool reset_times = false;            // -R / RESET
    bool zero_dates = false;             // --ZERO
    bool immediate = false;              // -i: no counting pass
    int flatten = 0;                     // --FLAT; above 5, files per numbered folder
    bool no_dupe = false;                // --NODUPE
    bool no_case = false;                // --NOCASE
    bool check_tilde = false;            // --CHK_TILDE
    bool ads_extract = false;
    bool ads_parent = false;
    bool ads_child = false;
    platform::FileTime zero_date_replacement = platform::zero_date_time;  // 1601-12-25 08:00:00 UTC
};

// Which sides are hashed: -H hashes both and compares them.
struct HashOptions {
    bool hash_sources = false;  // digests of the sources
    bool hash_copies = false;   // digests of the copies
    bool compare = false;       // both, compared: a difference is a mismatch
    int retries = 0;            // --RET
    bool verify_media = false;  // --VERIFY_MEDIA: copies read back from their device, not the cache
    bool sha1 = false;
    bool sha256 = false;
    bool sha384 = false;
    bool sha512 = false;
    std::string hash_log_path;      // the hash log; its companions are named after it
    bool unicode_list = false;      // --UNICODE
    std::string unicode_list_path;  // where --UNICODE writes its list
    [[nodiscard]] bool any() const { return hash_sources || hash_copies; }
    void hash_both() { hash_sources = hash_copies = compare = true; }
    void hash_none() { hash_sources = hash_copies = compare = false; }
};

struct LogOptions {
    unsigned log_mask = 0;
    std::string log_base_name;
    std::string default_log_path;
    std::string error_file_path;  // -E file; empty: standard error
    bool error_file_given = false;
    std::string abort_marker_name;
    bool milli = false;      // --MILLI
    bool zulu_time = false;  // -z
    bool append = false;     // INI APPEND
    // INI file
    std::string ini_path;
    std::string ini_echo;
    bool ini_processed = false;
    bool memo = false;
    std::string memo_path;
    std::string memo_text;
    std::string command_line;  // the arguments as given, for the run header
    // End-of-run documents: a DFXML manifest, a known-hash set for audits,
    // and the seal over every file the run wrote.
    std::string dfxml_path;
    std::string audit_set_path;
    bool seal = false;
    std::string report_path;  // the acquisition report (HTML)
    // The case the run belongs to, as the examiner names it, for the
    // default log's header, the DFXML manifest and the report.
    std::string case_number;             // --CASE=
    std::string exhibit;                 // --EXHIBIT=
    std::string examiner;                // --EXAMINER=
    std::string notes;                   // --NOTES=
    std::vector<std::string> arguments;  // the command line, one argument each
    // --VERIFY: the record of an earlier run whose copies are checked.
    std::string verify_record_path;
};

struct ConsoleOptions {
    bool silent = false;  // -v/-V/SILENT
    bool quiet = false;   // --QUIET: no per-file lines and no status line
    int width_state = 1;
    int name_width = 65;
    int width_given = 15;
    bool name_only = false;          // INI NAMEONLY
    bool path_only = false;          // INI PATHONLY
    char delimiter = ' ';            // --DEL
    bool delim_on = false;           // INI DELIM
    std::int64_t display_value = 0;  // INI DISPL
};

// Workers for the data of files when the user names no number: one per
// processor, at most eight (more rarely helps a copy bound by its disks).
inline unsigned default_thread_count() {
    constexpr unsigned most = 8;
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1U : (processors > most ? most : processors);
}
inline constexpr unsigned max_thread_count = 64;  // --THREADS, THREADS

// A file an option names. The options only record it; the run opens the
// files once the options are read, in the order the options named them.
enum class NamedFileKind : std::uint8_t {
    default_log,               // ACCT: the accounting file
    log_set,                   // -1/-2/-3: the default log, then the members of `mask`
    long_log,                  // --LOG=: as -1; a default log that cannot be opened makes the option illegal
    ini_logs,                  // INI log names: the default log unless one is open, then the members of `mask`
    log_members,               // --ERR=, INI LOGS=: the members of `mask` not open yet
    close_log_set,             // +1/+2/+3: the default log is closed
    error_file,                // -E
    hash_log,                  // -h=, --HASHLOG=
    hash_log_with_companions,  // -H: also the _ERROR and _RERUN companions
    unicode_list,              // --UNICODE=
    memo,                      // INI MEMO=
    list_file,                 // -S, --LIST=
    // A message of the INI reading that came after a file was named: said
    // in its place, once the files named before it are open.
    console_note,
};

struct NamedFile {
    NamedFileKind kind = NamedFileKind::default_log;
    std::string name;          // the file, or the base name of a log set's members
    unsigned mask = 0;         // log sets: the members to open
    std::string directory_of;  // log sets: the name whose directory is made (before the date marker)
    std::string option;        // --LOG=: the option's text, for its illegal message
};

struct Options {
    PathOptions paths;
    SelectionOptions selection;
    CopyOptions copy;
    HashOptions hashing;
    LogOptions logs;
    ConsoleOptions console;
    unsigned threads = default_thread_count();  // workers for the data of files
    std::vector<NamedFile> named_files;         // in the order named; emptied once opened
};

}  // namespace veldro
