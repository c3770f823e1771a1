#include "copy/file_flow.h"

#include "copy/dupes.h"
#include "copy/pipeline.h"
#include "logs/file_record.h"
#include "logs/run_report.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "util/paths.h"
#include "util/run_end.h"

namespace veldro::copy {

namespace {

// Files in flight per worker: enough to keep every worker busy while the
// walk's thread decides and records.
constexpr std::size_t files_per_worker = 4;

}  // namespace

FileFlow::FileFlow(Run& s, unsigned threads) : s_(s), slots_(threads * files_per_worker + 1) {
    pool_ = std::make_unique<util::OrderedWork<Slot*>>(
        threads, slots_.size() - 1, std::size_t{1} << 30, [this](Slot*& slot, bool worked) { record(*slot, worked); },
        [] { return platform::interrupt_requested(); });
}

FileFlow::~FileFlow() = default;

void FileFlow::handle(const std::string& directory, const std::string& name, const platform::FindRecord& entry) {
    // The ring has one slot more than the pool lets be in flight: the next
    // one is free once submit() has returned.
    Slot& slot = slots_[next_++ % slots_.size()];
    current_ = &slot;
    decide(slot, directory, name, entry);
    stage_ = Stage::idle;
    current_ = nullptr;
    FileOutcome& out = slot.outcome;
    const bool works = out.decision == Decision::selected;
    slot.in_flight = works;
    pool_->submit(&slot, 0, [this](Slot*& item) {
        if (item->outcome.decision != Decision::selected) {
            return;
        }
        // Each worker keeps its buffers and digest state for its life.
        thread_local platform::ThreadOwned<WorkScratch> scratch;
        work_file(s_.options, item->outcome, scratch.get());
    });
}

void FileFlow::decide(Slot& slot, const std::string& directory, const std::string& name,
                      const platform::FindRecord& entry) {
    FileOutcome& out = slot.outcome;
    slot.shown = Shown::nothing;
    stage_ = Stage::selecting;
    begin_outcome(s_, directory, name, entry, out);
    select_file(s_, out);
    if (out.decision == Decision::selected) {
        place_file(s_, directory, out);
    }
    if (out.decision != Decision::selected) {
        return;
    }
    stage_ = Stage::preparing;
    prepare_copy(s_, out);
}

void FileFlow::show_head(Slot& slot, Shown upto) {
    logs::FileReport report(s_, slot.outcome);
    if (slot.shown == Shown::nothing && upto != Shown::nothing) {
        report.begin();
        slot.shown = Shown::found;
    }
    if (slot.shown == Shown::found && upto == Shown::decided) {
        report.decision();
        slot.shown = Shown::decided;
    }
}

void FileFlow::settle() {
    // A record being written is already in its place; settling from inside
    // it would record it twice.
    if (settling_ || recording_) {
        return;
    }
    settling_ = true;
    try {
        pool_->drain();
    } catch (...) {
        settling_ = false;
        throw;
    }
    settling_ = false;
    // What a one-thread run has shown of the file being decided by now.
    if (current_ != nullptr && stage_ != Stage::idle) {
        show_head(*current_, stage_ == Stage::preparing ? Shown::decided : Shown::found);
    }
}

void FileFlow::settle_if_taken(const std::string& destination) {
    for (const Slot& slot : slots_) {
        if (slot.in_flight && &slot != current_ &&
            paths::equal_ignoring_case(slot.outcome.planned_destination, destination)) {
            settle();
            return;
        }
    }
}

void FileFlow::record(Slot& slot, bool worked) {
    slot.in_flight = false;
    recording_ = true;
    try {
        record_file(slot, worked);
    } catch (...) {
        recording_ = false;
        throw;
    }
    recording_ = false;
    // Its destination directories need not stay held for it any more.
    slot.outcome.destination_chain.reset();
    logs::count_processed_file(s_);
}

void FileFlow::record_file(Slot& slot, bool worked) {
    FileOutcome& out = slot.outcome;
    show_head(slot, Shown::decided);
    if (out.decision == Decision::no_streams) {
        logs::FileReport(s_, out).no_streams();
        return;
    }
    if (out.decision != Decision::selected) {
        return;
    }
    if (!worked) {
        // Skipped after an interrupt: the run ends here, as it would have
        // had this file been copied on the walk's thread.
        check_interrupt();
    }
    if (out.copied) {
        ++s_.dupes.files_copied_so_far;
        note_copy_written(s_, out.destination, out.source);
    }
    logs::FileReport(s_, out).result();
}

}  // namespace veldro::copy
