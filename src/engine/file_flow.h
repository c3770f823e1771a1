// The files of the tree walk, on one thread or many: the walk's thread
// decides each file and records it; the work of its data (copy, stamp,
// digests, read-back, retries, streams) runs on any worker, or inline with
// one thread. Records are written in walk order, so that every line is the
// one a one-thread run writes.
#pragma once

#include <cstdint>
#include <string>

#include "engine/flow_ring.h"
#include "run/outcome.h"
#include "run/run.h"

namespace veldro::engine {

// A file whose work the end of the run cut short: a copy it made without
// what proves it (its streams, digests, times) is removed, and the file is
// to be recorded as not copied; a copy that cannot be removed stays, to be
// recorded as far as its work went. False when it made no copy: there is
// nothing to record of its work, as when a run ends in a file's copy.
bool withdraw_cut_copy(FileOutcome& out);

class FileFlow final : public WalkInFlight {
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
    void settle() override;
    void settle_if_taken(const std::string& destination) override;

private:
    // How far the records of a file have been written: its head (found,
    // decided) may have to go out before a line that decide writes.
    enum class Shown : std::uint8_t { nothing, found, decided };
    // Where decide stands with the file it works on.
    enum class Stage : std::uint8_t { idle, selecting, preparing };

    struct Slot {
        FileOutcome outcome;
        Shown shown = Shown::nothing;
    };

    void decide(Slot& slot, const std::string& directory, const std::string& name, const platform::FindRecord& entry);
    void show_head(Slot& slot, Shown upto);
    void record(Slot& slot, bool worked);
    void record_cut(Slot& slot);
    void record_file(Slot& slot, bool worked);

    Run& s_;
    Slot* current_ = nullptr;  // the file being decided
    Stage stage_ = Stage::idle;
    FlowRing<Slot> ring_;
};

}  // namespace veldro::engine
