// Run state: what changes while a run goes. Each part has one owner: the
// counters and the files the run writes belong to the run report (logs),
// the duplicate state to the destination naming (copy), the stream table to
// the stream listing (ads), the engine's paths to the walk and the copy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "run/outcome.h"
#include "util/name_index.h"

namespace veldro {

namespace record {
struct RecorderState;
// Made with the run's open files (record/recorder_state.cpp).
std::shared_ptr<RecorderState> make_recorder_state();
}  // namespace record

// Every file the run has open, besides the copies themselves.
struct OpenFiles {
    std::FILE* report_stream = nullptr;  // always standard output
    // With --QUIET, while files are worked: where their lines went before
    // (standard output) and the null device they go to instead.
    std::FILE* unquiet_report_stream = nullptr;
    std::FILE* quiet_stream = nullptr;
    std::FILE* error_stream = nullptr;  // -E file, or standard error
    std::FILE* default_log = nullptr;
    std::FILE* list_log = nullptr;        // mask 2
    std::FILE* copied_log = nullptr;      // mask 4
    std::FILE* not_copied_log = nullptr;  // mask 8
    std::FILE* error_log = nullptr;       // mask 16
    std::FILE* dupes_log = nullptr;       // mask 32
    std::FILE* dir_count_log = nullptr;   // mask 64
    std::FILE* unicode_log = nullptr;     // mask 128 (UTF-16LE)
    std::FILE* memo_stream = nullptr;
    std::FILE* hash_log = nullptr;
    std::FILE* hash_error_log = nullptr;  // the _ERROR companion
    std::FILE* hash_rerun_log = nullptr;  // the _RERUN companion
    std::FILE* unicode_list_stream = nullptr;
    std::FILE* list_file = nullptr;  // the file list being read

    // The recorder's own state (record/): the outputs not written whole
    // (output_faults.cpp), the manifests and the seal (manifests.cpp), the
    // report's tally (report.cpp). Owned by the run; each part is changed
    // only by the file named.
    std::shared_ptr<record::RecorderState> recorder = record::make_recorder_state();
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
    // Files (and named streams) whose digests reached the hash log.
    std::int32_t files_hashed = 0;
    // Files that could be copied by neither way, or whose copy still
    // differed after the retries: such a run does not end as a success.
    std::int32_t copy_failures = 0;
    // Of those, copies whose source changed while it was copied: the end
    // reason says so.
    std::int32_t sources_changed = 0;
    // Listed files that were not there: such a run ends as an input fault.
    std::int32_t files_not_located = 0;
    // Sources whose last-access time moved and could not be put back.
    std::int32_t sources_access_moved = 0;
    // Copies that could not be given their source's owner and group.
    std::int32_t owners_not_kept = 0;
    // Blank lines of a file list, skipped.
    std::int32_t list_blank_lines = 0;
};

struct ProgressState {
    bool counting_pass = true;
    std::int32_t files_to_process = 0;
    std::int64_t bytes_to_process = 0;
    std::string bytes_to_process_text = "0";
    // The run's start and end, each read once from one clock: every output
    // shows these two and the time between them.
    std::int64_t start_time = 0;         // calendar seconds
    std::int32_t start_nanoseconds = 0;  // within the start's second
    std::int64_t end_time = 0;           // calendar seconds; 0 while the run goes on
    std::int32_t end_nanoseconds = 0;
    std::int64_t progress_start = 0;
    std::int64_t next_progress_bytes = 200000000;
};

// Flattening and duplicate renaming: state kept for the whole run.
struct DupeState {
    std::int32_t dupe_index = 0;           // next index rename_duplicate tries
    std::int32_t dupe_sequence = 1;        // extra suffix counter of the tilde rule
    std::int32_t flat_folder_index = 0;    // current numbered folder, 0 = the root
    std::int32_t files_copied_so_far = 0;  // successful copies, for the flat folders
    std::int32_t copies_planned = 0;       // files handed on to be copied, whatever became of them
    util::NameIndex names;                 // what the run wrote, and names ignoring case
};

// Named streams: the table that every listing refills from entry 0 (its
// entries and their names' memory are reused from one file to the next;
// it grows for a file with more streams than it has held so far).
struct StreamState {
    std::vector<platform::StreamRecord> stream_table;
    std::size_t stream_count = 0;
    bool ads_errors_ignored = false;  // a stream read error was answered with 'Y'
    bool open_failed = false;         // the last listing could not open its file at all
};

// The walk and the copy engine: path buffers reused for every file, the
// root being walked, the dir-count state, and the saved directory times of -M.
// What the making of destination directories reuses from file to file, so
// that no file costs an allocation.
struct DestinationScratch {
    std::string part;
    std::string dir;
    platform::FindRecord record;
    std::vector<std::size_t> made;  // lengths of the directories made by one call
    std::vector<std::string> source;
    std::vector<std::string> dest;
    std::vector<std::string> source_real;
    std::vector<std::string> made_paths;
};

struct EngineState {
    std::string dest_root;                // destination of the root being walked
    std::size_t current_root_length = 0;  // of the root being walked
    std::string source_file_path;         // directory + name of the current file
    std::string destination_dir;          // its destination directory
    std::string destination_file_path;    // its destination
    std::string size_text;                // its size with separators
    std::string last_source_dir;          // directory of the last file handled
    std::int32_t dir_copied_count = 0;    // files copied from it
    std::string last_counted_dir;         // directory last written to the dir-count log
    std::string last_checked_dir;         // destination directory last found in place
    platform::HeldChain held_chain;       // its directories, held open while files go in
    platform::FileTimeSet saved_dir_times;
    platform::FindRecord destination_record;
    bool creation_note_written = false;  // "creation times cannot be set" said once
    std::uint32_t entries_walked = 0;    // the walk looks at the console every 32 entries
    std::string excluded_name;           // a name as the exclusions compare it
    DestinationScratch destination_scratch;
};

// Files whose data work runs on other threads while the walk goes on. The
// walk's lines are events recorded in their turn, so that they keep the
// order a one-thread run gives them; the walk's thread asks it to settle
// (record every file in flight, in order) only before a question of its
// own, or before it looks at what a copy in flight may still change.
class WorkInFlight {
public:
    WorkInFlight() = default;
    WorkInFlight(const WorkInFlight&) = delete;
    WorkInFlight& operator=(const WorkInFlight&) = delete;
    WorkInFlight(WorkInFlight&&) = delete;
    WorkInFlight& operator=(WorkInFlight&&) = delete;
    virtual ~WorkInFlight() = default;

    // Records every file in flight, and what the file being decided has
    // to show before the caller's line.
    virtual void settle() = 0;
    // A line the walk's thread met, to be filled in and recorded in its
    // turn: an event of the file being decided, or else of a slot of its
    // own after the files handed over so far.
    virtual PlanEvent& add_event(PlanEvent::Kind kind) = 0;
    // Settles when a file in flight will take `destination`, or a name
    // that differs from it only in case.
    virtual void settle_if_taken(const std::string& destination) = 0;
};

// The files of the tree walk in flight: the walk hands each file it finds
// over to be decided here.
class WalkInFlight : public WorkInFlight {
public:
    // Decides on a file the walk found and hands its work on.
    virtual void handle(const std::string& directory, const std::string& name, const platform::FindRecord& entry) = 0;
};

struct RunState {
    WorkInFlight* in_flight = nullptr;  // null: every file is done on the deciding thread
    WalkInFlight* walk_flow = nullptr;  // the same for the tree walk, which hands its files over
    // What the planner looks at and changes files through: the machine's
    // own, or the one a test gives it.
    platform::NativeFileSystem native_file_system;
    platform::FileSystem* file_system = &native_file_system;
    // Today's local day number, taken when the first age is measured: every
    // age of the run counts from the same day. 0 until then.
    std::int32_t today = 0;
    OpenFiles files;
    RunCounters counters;
    ProgressState progress;
    DupeState dupes;
    StreamState streams;
    EngineState engine;

    // driver/terminate.cpp: the run's end has begun; a second end met while
    // the summaries are written leaves at once.
    bool ending = false;
};

}  // namespace veldro
