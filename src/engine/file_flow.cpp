#include "engine/file_flow.h"

#include "copy/dupes.h"
#include "copy/pipeline.h"
#include "logs/file_record.h"
#include "logs/run_report.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "work/worker.h"

namespace veldro::engine {

bool withdraw_cut_copy(FileOutcome& out) {
    if (!out.copied) {
        return false;
    }
    if (out.streams_only || platform::remove_file(out.destination)) {
        return true;
    }
    out.copied = false;
    out.copy_error = platform::copy_interrupted_error();
    out.failure_detail = "the run ended before its copy was finished";
    return true;
}

FileFlow::FileFlow(Run& s, unsigned threads)
    : s_(s),
      ring_(
          threads, files_in_flight_per_worker,
          [this](Slot& slot) {
              // Each worker keeps its buffers and digest state for its life.
              thread_local platform::ThreadOwned<work::WorkScratch> scratch;
              platform::NativeFileSystem files;
              work::work_file(s_.options, slot.outcome, scratch.get(), files);
          },
          [this](Slot& slot, bool worked) { record(slot, worked); }, [this](Slot& slot) { record_cut(slot); },
          // Ctrl-C or Escape typed while the walk waits for long copies
          // stops them within one buffer, as the interrupt handler does:
          // the key records the interrupt, which is all its answer says.
          [] { (void)take_abort_key(); }) {}

FileFlow::~FileFlow() = default;

void FileFlow::handle(const std::string& directory, const std::string& name, const platform::FindRecord& entry) {
    Slot& slot = ring_.next();
    current_ = &slot;
    decide(slot, directory, name, entry);
    stage_ = Stage::idle;
    current_ = nullptr;
    ring_.submit(slot.outcome.decision == Decision::selected);
}

void FileFlow::decide(Slot& slot, const std::string& directory, const std::string& name,
                      const platform::FindRecord& entry) {
    FileOutcome& out = slot.outcome;
    slot.shown = Shown::nothing;
    stage_ = Stage::selecting;
    copy::begin_outcome(s_, directory, name, entry, out);
    copy::select_file(s_, out);
    if (out.decision == Decision::selected) {
        copy::place_file(s_, directory, out);
    }
    if (out.decision != Decision::selected) {
        return;
    }
    stage_ = Stage::preparing;
    copy::prepare_copy(s_, out);
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
    if (!ring_.settle()) {
        return;
    }
    // What a one-thread run has shown of the file being decided by now.
    if (current_ != nullptr && stage_ != Stage::idle) {
        show_head(*current_, stage_ == Stage::preparing ? Shown::decided : Shown::found);
    }
}

void FileFlow::settle_if_taken(const std::string& destination) {
    if (ring_.any_in_flight([&destination](const Slot& slot) {
            return paths::equal_ignoring_case(slot.outcome.planned_destination, destination);
        })) {
        settle();
    }
}

void FileFlow::record(Slot& slot, bool worked) {
    record_file(slot, worked);
    // Its destination directories need not stay held for it any more.
    slot.outcome.destination_chain.reset();
    logs::count_processed_file(s_);
}

void FileFlow::record_cut(Slot& slot) {
    if (withdraw_cut_copy(slot.outcome)) {
        record(slot, true);
        return;
    }
    // What a run shows of a file whose copy it ended in.
    show_head(slot, Shown::decided);
    slot.outcome.destination_chain.reset();
}

void FileFlow::record_file(Slot& slot, bool worked) {
    FileOutcome& out = slot.outcome;
    show_head(slot, Shown::decided);
    if (out.decision == Decision::no_streams) {
        logs::FileReport(s_, out).no_streams();
        return;
    }
    if (out.decision != Decision::selected || !worked) {
        return;
    }
    if (out.copied) {
        ++s_.dupes.files_copied_so_far;
        copy::note_copy_written(s_, out.destination, out.source);
    }
    logs::FileReport(s_, out).result();
}

}  // namespace veldro::engine
