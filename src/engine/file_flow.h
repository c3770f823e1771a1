// The files of the tree walk and of the file list, on one thread or many:
// the thread that walks (or reads the list) decides each file and records it; the work of its data (copy, stamp,
// digests, read-back, retries, streams) runs on any worker, or inline with
// one thread. Records are written in walk order, so that every line is the
// one a one-thread run writes; the walk's lines that belong to no file are
// recorded in their turn from slots of their own.
#pragma once

#include <cstdint>
#include <string>

#include "engine/flow_ring.h"
#include "plan/pipeline.h"
#include "record/file_record.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::engine {

// A file whose work the end of the run cut short: a copy it made without
// what proves it (its streams, digests, times) is removed, and the file is
// to be recorded as not copied; a copy that cannot be removed stays, to be
// recorded as far as its work went. False when it made no copy: there is
// nothing to record of its work, as when a run ends in a file's copy.
bool withdraw_cut_copy(FileOutcome& out);

class FileFlow final : public WalkInFlight, public plan::ListedCopiesInFlight {
public:
    // Starts `threads` workers; at most a few files per worker are in
    // flight at once, so that memory does not grow with the files.
    FileFlow(Run& s, unsigned threads);
    FileFlow(const FileFlow&) = delete;
    FileFlow& operator=(const FileFlow&) = delete;
    FileFlow(FileFlow&&) = delete;
    FileFlow& operator=(FileFlow&&) = delete;
    ~FileFlow() override;

    void handle(const std::string& directory, const std::string& name, const platform::FindRecord& entry) override;
    // Decides on a line of the file list naming `source` (internal form)
    // and hands its work on; `excluded`: its name matched an exclusion
    // pattern.
    void handle_listed(const std::string& source, bool excluded);
    void settle() override;
    PlanEvent& add_event(PlanEvent::Kind kind) override;
    void settle_if_taken(const std::string& destination) override;
    void settle_if_read(const std::string& source) override;
    void settle_if_below(const std::string& dir) override;

    // The lines of the file list recorded so far: the copies made and
    // their bytes.
    [[nodiscard]] int listed_copies() const { return listed_copies_; }
    [[nodiscard]] std::int64_t listed_copied_bytes() const { return listed_copied_bytes_; }

private:
    // How far the records of a file have been written: its head (found,
    // decided) may have to go out before a line that decide writes.
    enum class Shown : std::uint8_t { nothing, found, decided };
    // Where decide stands with the file it works on.
    enum class Stage : std::uint8_t { idle, selecting, preparing };

    struct Slot {
        bool only_events = false;  // lines of the walk that belong to no file, in outcome.events
        FileOutcome outcome;
        Shown shown = Shown::nothing;
        std::size_t events_shown = 0;  // its planner's events written so far
        // Its work, done in a group, was complete when the end of the run
        // cut the group short: it is recorded as any worked file.
        bool completed = false;
    };

    void decide(Slot& slot, const std::string& directory, const std::string& name, const platform::FindRecord& entry);
    void show_head(Slot& slot, Shown upto);
    void show_events(Slot& slot, bool after_head);
    // The work of groupable files at once (see work::work_file_group).
    void work_group(Slot* const* slots, std::size_t count);
    void record(Slot& slot, bool worked);
    void record_cut(Slot& slot);
    void record_file(Slot& slot, bool worked);
    void record_listed(const FileOutcome& out);
    template <class Taken>
    void settle_when(Taken taken);

    Run& s_;
    Slot* current_ = nullptr;  // the file being decided
    Stage stage_ = Stage::idle;
    record::ListProgress list_progress_;
    int listed_copies_ = 0;
    std::int64_t listed_copied_bytes_ = 0;
    FlowRing<Slot> ring_;
};

}  // namespace veldro::engine
