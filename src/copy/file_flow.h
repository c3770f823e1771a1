// The files of a run with worker threads: the walk's thread decides each
// file and records it; the work of its data (copy, stamp, digests,
// read-back, retries, streams) runs on any worker. Records are written in
// walk order, so that every line is the one a one-thread run writes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "run/outcome.h"
#include "run/run.h"
#include "util/ordered_work.h"

namespace veldro::copy {

class FileFlow final : public WorkInFlight {
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

    // Records every file still in flight; the walk is over.
    void finish() { settle(); }

private:
    // How far the records of a file have been written: its head (found,
    // decided) may have to go out before a line that decide writes.
    enum class Shown : std::uint8_t { nothing, found, decided };
    // Where decide stands with the file it works on.
    enum class Stage : std::uint8_t { idle, selecting, preparing };

    struct Slot {
        FileOutcome outcome;
        Shown shown = Shown::nothing;
        bool in_flight = false;
    };

    void decide(Slot& slot, const std::string& directory, const std::string& name, const platform::FindRecord& entry);
    void show_head(Slot& slot, Shown upto);
    void record(Slot& slot, bool worked);
    void record_file(Slot& slot, bool worked);

    Run& s_;
    std::vector<Slot> slots_;  // a ring: one more than may be in flight
    std::uint64_t next_ = 0;
    Slot* current_ = nullptr;  // the file being decided
    Stage stage_ = Stage::idle;
    bool settling_ = false;
    bool recording_ = false;
    std::unique_ptr<util::OrderedWork<Slot*>> pool_;
};

}  // namespace veldro::copy
