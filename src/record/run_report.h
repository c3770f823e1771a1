// The run report: the lines the run writes outside a file's own copy
// record (the walk, the destination's directories, renamed duplicates, the
// named-stream listing, the counting pass), and the console questions with
// the key that answers them. The modules that find these things call here
// with the values; the decisions stay with them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/streams.h"
#include "run/run.h"

namespace veldro::record {

// ---- the walk ----------------------------------------------------------

// The counting pass has begun (standard error).
void report_counting_started();
// Every thousandth file the counting pass comes to, written in place.
void report_counting_progress(std::int32_t files_counted);
// The counting pass's totals on standard error, and in the default log.
void report_counting_totals(Run& s);
// The destination's free space could not be read.
void report_free_space_unknown();
// The full copy may not fit: free space on `volume` and the size needed.
void report_free_space_short(const std::string& volume, std::uint64_t free_bytes, std::uint64_t needed);

// A file of the walk was handed to the copy and is counted as processed.
void count_processed_file(Run& s);
// The report_ lines of the walk below are events recorded in their turn,
// after the files handed over before them, when files are in flight, and
// written at once when none are; their write_ lines are the recorder's.

// A directory the walk could not list: console, error file, not-copied
// log, and the counters (not processed, and a failure of the run).
void report_unreadable_directory(Run& s, const std::string& dir_path, const std::error_code& error);
void write_unreadable_directory(Run& s, const std::string& dir_path, const std::error_code& error);
// The files of a directory are handed over: the dir-count log's line for
// the directory whose files were recorded last (files copied from it), once.
void report_directory_count(Run& s);
void write_directory_count(Run& s);
// The records of a file of `directory` begin: the dir-count log counts the
// copies of one directory at a time.
void note_recorded_directory(Run& s, std::string_view directory);
// Line `number` of the list `what` names holds a NUL byte and is left out.
void report_list_line_left_out(Run& s, int number, const std::string& what);
// Before the first copy, once: the last-access times of sources the account
// does not own will move (the account can neither read them without moving
// it nor put it back, and a source's file system moves it), on the console
// and in the default log. Nothing when nothing is to be copied.
void warn_moving_access_times(Run& s);
// A directory passed over by the bypass list: console and default log
// (opened again for this when the run has it closed).
void report_bypassed_directory(Run& s, const std::string& directory);
void write_bypassed_directory(Run& s, const std::string& directory);

// What became of a temporary file an earlier run left in a destination
// directory.
enum class LeftoverFate : std::uint8_t {
    removed,      // the run that made it has ended
    kept,         // that run is still going, or whether it is cannot be told
    not_removed,  // the removal failed
};
// Names such a file on the console and in the error log, where the caller
// stands: the record of the file whose directory held it, or before any.
void report_leftover_temporary(Run& s, const std::string& path, LeftoverFate fate, const std::error_code& error);

// ---- the sources -------------------------------------------------------

// A source path named a file: its directory becomes the root.
void report_file_as_root(const std::string& name, const std::string& directory);
// A source path names nothing.
void report_missing_source(const std::string& root);
// The destination is, lies in or holds a source (`relation` in words).
void report_overlapping_destination(const std::string& destination, const char* relation, const std::string& root);

// ---- the destination ---------------------------------------------------

// A directory made before any file is decided (the destination itself).
void report_directory_created(const Run& s, const std::string& dir);
// The same line, written where the caller stands: a file's record.
void write_directory_created(const Run& s, const std::string& dir);
// Asks whether to create the missing destination; gives the key read
// (negative when nobody can answer).
int ask_create_destination(const std::string& shown_destination);
// A renamed duplicate of the tilde rule: the dupes log and the console,
// written where the caller stands: a file's record.
void write_tilde_rename(const Run& s, const std::string& old_path, const std::string& new_path);
// The highest duplicate index given so far, for the default log's total.
void note_dupe_index(Run& s, std::int32_t index);

// ---- named streams -----------------------------------------------------

// The backup privileges could not be enabled (`line` and `what` name the
// failing step); the run ends after this.
void report_stream_privilege_failure(int line, const char* what);
// A stream header could not be read: asks whether to go on and gives the
// key read ('Y' goes on), once every file in flight is recorded.
int ask_after_stream_read_error(const Run& s);
// The question above was answered with anything but 'Y'.
void report_stream_question_refused(const Run& s);
// A later header read error, after 'Y' said to ignore them.
void write_stream_error_ignored(const Run& s);
// A stream's name could not be read.
void write_stream_name_unreadable(const Run& s);

// ---- digests -----------------------------------------------------------

// The digest routine could not get its input buffer.
void report_digest_buffer_failure();

// What a listing that ended with `status` after `listed` streams counts,
// with the messages and the question that such an end calls for: a file
// that cannot be opened or whose system keeps no streams has none; after a
// failed header read the user is asked (once per run) whether to go on,
// and the file then has none, or the ones listed so far once the user
// chose to go on; after a failed name read the ones listed so far.
// The planner's listing makes its messages events of the file it decides;
// the recorder's writes them where it stands.
enum class ListingSeenBy : std::uint8_t { planner, recorder };
int count_after_listing(Run& s, platform::StreamListStatus status, std::size_t listed,
                        ListingSeenBy seen_by = ListingSeenBy::recorder);

}  // namespace veldro::record
