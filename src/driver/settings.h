// RunSettings: the one record of a run. The driver creates it once; every
// module takes it by reference so that a unit test can build a fresh one.
// Field names follow the program's own texts (lower case, underscores).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/streams.h"
#include "util/name_index.h"

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

// hash_mode values.
inline constexpr int hash_source_only = 2;
inline constexpr int hash_dest_only = 4;
inline constexpr int hash_both = 8;

struct PathSettings {
    std::vector<std::string> source_paths;         // roots, internal form, no trailing separator
    std::vector<std::size_t> source_root_lengths;  // length of each root as stored
    std::size_t current_root_length = 0;           // of the root being walked
    int path_given = 0;
    std::string dest_path;   // destination, internal form
    std::string dest_named;  // the destination directory as the user named it (-d, -D, --DES)
    int dest_given = 0;
    int dest_drive_index = 0;
    int drive_only_dest = 0;     // -D
    int make_dirs = 0;           // -m
    int maintain_dir_dates = 0;  // -M
    int upper_case_dirs = 1;     // -U clears
    int dirs_list_mode = 0;      // --dirs
    int list_file_mode = 0;      // -S / --list
    std::FILE* list_file = nullptr;
    int expected_files = 0;
    int test_mode = 0;    // --TEST
    int shadow_copy = 0;  // --SHADOW_COPY
};

struct SelectionSettings {
    std::vector<std::string> type_list;  // file-type patterns
    int type_file_given = 0;
    int exclude_mode = 0;
    int exclude_keep_case = 0;  // -X
    std::vector<std::string> exclude_list;
    int bypass_mode = 0;
    std::vector<std::string> bypass_list;  // internal form
    int recurse = 1;
    int copy_all = 0;    // -A
    int exist_only = 0;  // -e
    int age_select = 0;
    int older_select = 0;
    int older_days = 0;
    std::uint64_t older_cutoff = 0;  // file time
    int younger_select = 0;
    int younger_days = 80000;
    std::uint64_t younger_cutoff = 0;  // file time
    char date_use_access = 0;          // 'a' when set
    char date_use_create = 0;
    char date_use_write = 0;
    int greater_select = 0;
    std::int64_t greater_size = 0;
    int less_select = 0;
    std::int64_t less_size = 0;
    int time_field = 'w';  // -T: A, C, W or 3
    int attr_filter = 0;   // -a
    int attr_dir_count = 0;
    int attr_encrypted = 0;
    int attr_hidden = 0;
    int attr_archive = 0;
    int attr_readonly = 0;
    int attr_system = 0;
};

struct CopySettings {
    int list_only = 0;            // 1: -n, 2: -N
    int overwrite_protected = 0;  // -O
    int reset_times = 0;          // -R / RESET
    int zero_dates = 0;           // --ZERO
    int immediate = 0;            // -i: no counting pass
    int flatten = 0;              // --FLAT
    int no_dupe = 0;              // --NODUPE
    int no_case = 0;              // --NOCASE
    int check_tilde = 0;          // --CHK_TILDE
    int ads_extract = 0;
    int ads_parent = 0;
    int ads_child = 0;
    platform::FileTime zero_date_replacement;  // 1601-12-25 08:00:00 UTC
};

struct HashSettings {
    int hash_mode = 0;  // 0, 2 source, 4 destination, 8 both
    int retries = 0;    // --RET
    int sha1 = 0;
    int sha256 = 0;
    int sha384 = 0;
    int sha512 = 0;
    std::FILE* hash_log = nullptr;
    std::FILE* hash_error_log = nullptr;  // the _ERROR companion
    std::FILE* hash_rerun_log = nullptr;  // the _RERUN companion
    int unicode_list = 0;                 // --UNICODE
    std::FILE* unicode_list_stream = nullptr;
};

struct LogSettings {
    unsigned log_mask = 0;
    std::string log_base_name;
    std::string default_log_path;
    std::FILE* default_log = nullptr;
    std::FILE* list_log = nullptr;        // mask 2
    std::FILE* copied_log = nullptr;      // mask 4
    std::FILE* not_copied_log = nullptr;  // mask 8
    std::FILE* error_log = nullptr;       // mask 16
    std::FILE* dupes_log = nullptr;       // mask 32
    std::FILE* dir_count_log = nullptr;   // mask 64
    std::FILE* unicode_log = nullptr;     // mask 128 (UTF-16LE)
    std::FILE* error_stream = nullptr;    // -E file, or stderr
    int error_file_given = 0;
    std::string abort_marker_name;
    int milli = 0;      // --MILLI
    int zulu_time = 0;  // -z
    int append = 0;     // INI APPEND
    // INI file
    std::string ini_path;
    std::string ini_echo;
    int ini_processed = 0;
    int memo = 0;
    std::FILE* memo_stream = nullptr;
    std::string memo_text;
    std::string command_line;  // the arguments as given, for the run header
    // End-of-run documents: a DFXML manifest, a known-hash set for audits,
    // and the seal over every file the run wrote.
    std::string dfxml_path;
    std::string audit_set_path;
    std::string hash_log_path;  // the hash log's name, for the seal
    int seal = 0;
    std::string report_path;  // the acquisition report (HTML)
};

struct ConsoleSettings {
    std::FILE* report_stream = nullptr;  // always standard output
    int silent = 0;                      // -v/-V/SILENT
    int width_state = 1;
    int name_width = 65;
    int width_given = 15;
    int name_only = 0;               // INI NAMEONLY
    int path_only = 0;               // INI PATHONLY
    char delimiter = ' ';            // --DEL
    int delim_on = 0;                // INI DELIM
    std::int64_t display_value = 0;  // INI DISPL
};

struct RunCounters {
    std::int32_t files_processed = 0;
    std::int64_t bytes_processed = 0;
    std::int32_t files_copied = 0;
    std::int64_t bytes_copied = 0;
    std::int32_t files_updated = 0;
    std::int32_t files_new = 0;
    std::int32_t new_copies = 0;
    std::int32_t files_completed = 0;
    std::int32_t files_not_processed = 0;
    std::int32_t not_processed_newer = 0;
    std::int32_t ads_files_copied = 0;
    std::int32_t highest_dupe_index = 0;
    std::int32_t hash_mismatches = 0;
    // Files that could be copied by neither way, or whose copy still
    // differed after the retries: such a run does not end as a success.
    std::int32_t copy_failures = 0;
    // Listed files that were not there: such a run ends as an input fault.
    std::int32_t files_not_located = 0;
};

struct ProgressState {
    int counting_pass = 1;
    std::int32_t files_to_process = 0;
    std::int64_t bytes_to_process = 0;
    std::string bytes_to_process_text = "0";
    std::int64_t start_time = 0;  // calendar seconds
    std::int64_t progress_start = 0;
    std::int64_t next_progress_bytes = 200000000;
};

// Flattening and duplicate renaming: state kept for the whole run.
struct DupeState {
    std::int32_t dupe_index = 0;           // next index rename_duplicate tries
    std::int32_t dupe_sequence = 1;        // extra suffix counter of the tilde rule
    std::int32_t flat_folder_index = 0;    // current numbered folder, 0 = the root
    std::int32_t files_copied_so_far = 0;  // successful copies, for the flat folders
    util::NameIndex names;                 // what the run wrote, and names ignoring case
};

// Named streams: the table that every listing refills from entry 0 (its
// entries and their names' memory are reused from one file to the next;
// it grows for a file with more streams than it has held so far).
struct StreamState {
    std::vector<platform::StreamRecord> stream_table;
    std::size_t stream_count = 0;
    int ads_errors_ignored = 0;  // a stream read error was answered with 'Y'
    bool open_failed = false;    // the last listing could not open its file at all
};

// The walk and the copy engine: path buffers reused for every file, the
// dir-count state, and the saved directory times of -M.
struct EngineState {
    std::string source_file_path;       // directory + name of the current file
    std::string destination_dir;        // its destination directory
    std::string destination_file_path;  // its destination
    std::string size_text;              // its size with separators
    std::string last_source_dir;        // directory of the last file handled
    std::int32_t dir_copied_count = 0;  // files copied from it
    std::string last_counted_dir;       // directory last written to the dir-count log
    std::string last_checked_dir;       // destination directory last found in place
    platform::FileTimeSet saved_dir_times;
    platform::FindRecord destination_record;
    int creation_note_written = 0;  // "creation times cannot be set" said once
};

struct RunSettings {
    PathSettings paths;
    SelectionSettings selection;
    CopySettings copy;
    HashSettings hashing;
    LogSettings logs;
    ConsoleSettings console;
    RunCounters counters;
    ProgressState progress;
    DupeState dupes;
    StreamState streams;
    EngineState engine;
};

// The one live record of the run, set by the driver; the interrupt path
// and terminate_run reach the run through it.
RunSettings& live_settings();
void set_live_settings(RunSettings* settings);

}  // namespace veldro
