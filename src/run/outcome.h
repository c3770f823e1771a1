// FileOutcome: what happened to one file, from the decision about it to the
// last time put on its copy. Decide fills in the first part, the work the
// second, and the run report turns the whole into the file's console lines,
// log lines and counter changes. One value is reused from file to file, so
// that its strings keep their memory.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "hash/file_digest.h"
#include "platform/fs.h"
#include "platform/streams.h"

namespace veldro {

// What decide settled for a file.
enum class Decision : std::uint8_t {
    selected,     // it goes on to the copy
    skipped,      // not copied, for `reason`
    listed_only,  // -n / -N: shown, never copied
    no_streams,   // a streams-only mode, and the file has none (or could not be opened)
    // The file list's own ends of a line:
    directory,    // the listed name is a directory
    excluded,     // the criteria or the exclusions leave it out
    not_located,  // nothing stands at the listed name
    present,      // --TEST: it is there, and that is all that is asked
    onto_itself,  // the destination is the source itself
};

// One step that may fail, with the system's reason where it gave one.
struct StepResult {
    bool failed = false;
    std::error_code reason;

    void fail(std::error_code why = {}) {
        failed = true;
        reason = why;
    }
};

// One named stream handled during the work of a file.
struct StreamOutcome {
    std::string name;  // the stream's name
    std::string text;  // "file:stream" as the messages show it
    std::string file;  // the stream file written for it (extraction modes)
    bool unsafe_name = false;
    bool written = false;          // its stream file was written
    bool source_read = true;       // hashing: the source's stream could be opened
    hash::Md5Text file_md5{};      // the stream file's MD5, for the hash log
    std::string destination_text;  // hashing: the counterpart as shown
    hash::HashSet source_digests;
    hash::HashSet destination_digests;
    bool match = false;
    std::error_code error;  // why its stream file could not be written
    // Its MD5 could not have a read buffer: said with the file's record.
    bool digest_buffer_missing = false;
};

// How a stream listing of the work ended, for the messages it calls for.
struct StreamListing {
    platform::StreamListStatus status = platform::StreamListStatus::complete;
    std::size_t listed = 0;
    std::size_t first_stream = 0;  // the streams handled after it begin here
};

// Something the planner did for a file that its record tells in its
// place: a directory made, or the file's copy renamed. A line of the walk
// that belongs to no file is an event too, in a slot of its own.
struct PlanEvent {
    enum class Kind : std::uint8_t {
        directory_made,        // `path`: the directory made
        renamed,               // `path`: the name the copy would have had
        tilde_renamed,         // `path` renamed to `to` by the tilde rule
        directory_not_dated,   // `path`: a directory made that could not be dated (`found`: it is there)
        leftover_removed,      // `path`: a temporary file of an ended run, removed
        leftover_kept,         // `path`: a temporary file of a run still going, left alone
        leftover_not_removed,  // `path`: a temporary file of an ended run that stays, for `error`
        // What listing the file's named streams met:
        stream_error_ignored,    // a stream could not be read, and read errors are ignored as answered
        stream_name_unreadable,  // a stream's name could not be read
        // Lines of the walk that belong to no file:
        directory_unreadable,  // `path` could not be read, for `error`
        directory_bypassed,    // `path` is passed over
        directory_counted,     // the dir-count log's line for the directory whose files were recorded last
        list_line_left_out,    // line `number` of the list `path` names is left out
    };
    Kind kind = Kind::directory_made;
    bool after_head = false;  // after the head of the copy line, else after the file was found
    bool found = false;
    std::string path;
    std::string to;
    std::error_code error;
    int number = 0;
};

// A file's events in the order the planner met them. Emptied for each file
// without giving back their memory: no file costs an allocation once the
// room is there.
class PlanEvents {
public:
    PlanEvent& add(PlanEvent::Kind kind) {
        if (count_ == items_.size()) {
            items_.emplace_back();
        }
        PlanEvent& event = items_[count_++];
        event.kind = kind;
        event.after_head = after_head_;
        event.found = false;
        event.error.clear();
        return event;
    }
    [[nodiscard]] std::size_t size() const { return count_; }
    [[nodiscard]] const PlanEvent& operator[](std::size_t i) const { return items_[i]; }
    // The events added from now on come after the head of the copy line.
    void past_head() { after_head_ = true; }
    void clear() {
        count_ = 0;
        after_head_ = false;
    }

private:
    std::vector<PlanEvent> items_;
    std::size_t count_ = 0;
    bool after_head_ = false;
};

// What the planner decides for a file: plain facts, emptied by assigning
// a fresh value.
struct PlanFacts {
    Decision decision = Decision::selected;
    const char* reason = nullptr;     // the not-copied log's reason text
    bool reason_needs_log = false;    // recorded as not copied only when that log is open
    bool older = false;               // counted among the files older than their copy
    bool existed = false;             // a file stood at the destination
    bool directory_ready = false;     // the destination directory is in place, made safely
    bool destination_unseen = false;  // what stands at the destination could not be looked at
    bool is_link = false;
    bool streams_only = false;        // --ADSCHILD: stream files in place of the copy
    bool protected_replaced = false;  // -O found a protected copy
    std::uint32_t protected_attributes = 0;
    int stream_count = 0;  // named streams of the source
    bool streams_open_failed = false;
    bool source_is_folder = false;  // a failed copy: what stood at either end
    bool destination_is_folder = false;
    bool unicode_record = false;         // a --UNICODE file is written
    bool unicode_log = false;            // the unicode log is written
    bool hash_log = false;               // the hash log is written
    bool stream_errors_ignored = false;  // a stream read error was answered with 'Y'
};

// The plan of a file: its facts, and the names and entry that keep their
// memory from file to file.
struct FilePlan : PlanFacts {
    std::string source;  // internal form
    std::string shown_source;
    std::string name;                 // as the walk found it
    std::string destination;          // internal form; with --ADSCHILD the directory after the work
    std::string planned_destination;  // the destination as the work began
    std::string size_text;            // the size with separators
    platform::FindRecord entry;
    // Its directories, held open until the file is recorded: the data work
    // may still write below them after the walk has gone on to another.
    platform::HeldChain destination_chain;
    // What the planner did on its way that the record tells.
    PlanEvents events;

    // Empties the plan for the next file; strings keep their memory.
    void reset_plan() {
        static_cast<PlanFacts&>(*this) = PlanFacts{};
        destination_chain.reset();
        events.clear();
    }
};

// What the work did: plain results, emptied by assigning a fresh value.
struct WorkFacts {
    bool copied = false;
    std::error_code copy_error;            // the system's reason of a failed copy
    const char* failure_detail = nullptr;  // why the copy failed, in words
    bool buffer_missing = false;           // the program's own copy could not have its buffer
    int retries = 0;                       // copies made again after a mismatch
    bool source_changed = false;           // the last copy saw its source change
    bool hashed = false;                   // the copy's digests were taken (not a link, not --ADSCHILD)
    bool source_hashed = false;
    bool destination_hashed = false;
    bool compared = false;
    bool match = false;
    hash::HashSet source_digests;
    hash::HashSet destination_digests;
    std::size_t extracted_streams = 0;  // streams[0, extracted) were extracted
    std::size_t hashed_streams = 0;     // the next ones were hashed
    StepResult attributes;              // the copy's attributes after it was made
    StepResult source_times;            // the source's times put back
    StepResult copy_times;              // the copy's times
    bool creation_left = false;         // the copy's file system kept its own creation time
    platform::FileTimeSet stamped;      // the times put on the copy
    // The copy took its name with the stamped times and its attributes, and
    // nothing has touched them since: stamping it again would change nothing.
    bool settled = false;
    // A line of the file list: the worker takes the list's own way.
    bool listed = false;
    // The source was read in a way that may move its last-access time (the
    // system refused to leave it alone): it is looked at again at the end.
    bool access_unprotected = false;
    // The source's last-access time is no longer the one it was found with
    // when its work ended: moved by a read and not put back.
    bool access_moved = false;
    // The copy carries its source's owner and group (and every mode bit);
    // otherwise it is the running account's.
    bool owner_kept = true;
};

// The result of a file's work: its facts, and the lists that keep their
// memory from file to file.
struct WorkResult : WorkFacts {
    // One entry per copy made of the file: the first, then each retry;
    // true where the source changed while it was copied.
    std::vector<bool> copy_changed;
    std::vector<StreamOutcome> streams;   // extracted, then hashed (entries reused)
    std::vector<StreamListing> listings;  // stream listings of the work, in order
    // The size of the source as the copy opened it, with separators, where it
    // differs from the size found (size_text, which the file's first lines
    // show before the work on one thread and so on every thread).
    std::string opened_size_text;
    // The size the source reported, with separators, where the copy read a
    // different number of bytes from it (a pseudo-file that reports 0): the
    // bytes read are the size recorded, in opened_size_text.
    std::string reported_size_text;

    // Empties the result for the next file; lists and text keep their memory.
    void reset_result() {
        static_cast<WorkFacts&>(*this) = WorkFacts{};
        copy_changed.clear();
        listings.clear();
        opened_size_text.clear();
        reported_size_text.clear();
    }
};

// What happened to one file: its plan, then the result of its work.
struct FileOutcome : FilePlan, WorkResult {
    // The next entry of `streams`, emptied (its strings keep their memory).
    StreamOutcome& next_stream() {
        const std::size_t used = extracted_streams + hashed_streams;
        if (used == streams.size()) {
            streams.emplace_back();
        }
        StreamOutcome& next = streams[used];
        next.unsafe_name = next.written = next.match = false;
        next.source_read = true;
        next.error.clear();
        next.file_md5[0] = '\0';
        next.digest_buffer_missing = false;
        return next;
    }

    // Empties the value for the next file; strings keep their memory.
    void reset() {
        reset_plan();
        reset_result();
    }
};

}  // namespace veldro
