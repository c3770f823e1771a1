// The records of one file: its console lines, its log lines, its part of
// the manifests and the counters it changes, all written from its
// FileOutcome. Nothing else writes a file's records. It runs on the thread
// that walks, in walk order.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "run/outcome.h"
#include "run/run.h"
#include "times/file_times.h"

namespace veldro::record {

// The progress of a file-list run, kept by its report.
struct ListProgress {
    std::int32_t lines_handled = 0;
    std::int64_t next_progress_bytes = 100000000;
};

class FileReport {
public:
    FileReport(Run& s, const FileOutcome& o) : s_(s), o_(o) {}

    // The file was found: its manifest record begins, its size counts among
    // the bytes processed, and the list log gets its line.
    void begin();
    // What decide settled: the not-copied records, the list-only line, or
    // the head of the copy line; for a line of the file list, its own
    // records when it is not a copy.
    void decision();
    // Something the planner did for the file, in its place among the
    // file's records.
    void event(const PlanEvent& event);
    // A streams-only mode found no named streams.
    void no_streams();
    // After the work, in the order of the file's way: the streams, the copy,
    // the verification, the copied and not-copied logs, the progress line
    // and the times; for a line of the file list, from its console line to
    // its default-log line.
    void result();
    // The verification's part of result(), for a copy that was hashed.
    // Returns whether the copy is verified.
    bool verification();
    // The stream work's part of result().
    void streams();

    // The progress line of the file list after a copy, and now and then
    // the throughput.
    void list_progress(ListProgress& progress);

private:
    // A line of the file list: what decide settled when it is not a copy.
    void listed_decision();
    // A copy of a listed file, from its console line to its default-log line.
    void listed_result();
    const times::FileTimeFields& fields();
    void copy_error(const std::error_code& error);
    void hash_log();
    void unicode_record();
    void copied_line();
    void size_read_note();
    void progress_line();
    void times();
    void stream_listing(const StreamListing& listing);
    void extracted_stream(const StreamOutcome& one);
    void hashed_stream(const StreamOutcome& one);
    void listed_failure();
    bool listed_digests();
    void listed_logs(bool verified);

    Run& s_;
    const FileOutcome& o_;
    times::FileTimeFields fields_;
    bool fields_ready_ = false;
};

// Records a file as not copied with its reason: the not-copied log, the
// manifests and the count of files not processed.
void record_not_copied(Run& s, const std::string& path, const char* reason);

// Once per run, on standard error: the destination cannot take creation
// times, so the copies keep the ones their file system gives them.
void note_creation_time_left(Run& s);

// A directory's times could not be written; `found` tells whether the
// directory could be looked up at all.
void directory_times_not_set(const std::string& path, bool found);

}  // namespace veldro::record
