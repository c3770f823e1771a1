#include "engine/file_flow.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "hash/md5_lanes.h"
#include "plan/dupes.h"
#include "plan/pipeline.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "record/file_record.h"
#include "record/run_report.h"
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

namespace {

// Each worker keeps its buffers and digest state for its life.
work::WorkScratch& worker_scratch() {
    thread_local platform::ThreadOwned<work::WorkScratch> scratch;
    return scratch.get();
}

}  // namespace

FileFlow::FileFlow(Run& s, unsigned threads)
    : s_(s),
      ring_(
          threads, files_in_flight_per_worker,
          [this](Slot& slot) { work::work_file(s_.options, slot.outcome, worker_scratch(), *s_.file_system); },
          [this](Slot& slot, bool worked) { record(slot, worked); }, [this](Slot& slot) { record_cut(slot); },
          // Ctrl-C or Escape typed while the walk waits for long copies
          // stops them within one buffer, as the interrupt handler does:
          // the key records the interrupt, which is all its answer says.
          [] { (void)take_abort_key(); }) {
    // Large copies hashed on both sides go together where the processor
    // hashes eight streams or more at once (see work::work_file_group).
    if (hash::md5_lane_width() >= 8) {
        ring_.set_group_work([this](Slot* const* slots, std::size_t count) { work_group(slots, count); },
                             platform::most_grouped_copies);
    }
}

void FileFlow::work_group(Slot* const* slots, std::size_t count) {
    std::array<FileOutcome*, platform::most_grouped_copies> outs{};
    count = std::min(count, outs.size());
    for (std::size_t i = 0; i < count; ++i) {
        outs.at(i) = &slots[i]->outcome;
    }
    std::size_t done = 0;
    try {
        work::work_file_group(s_.options, outs.data(), count, worker_scratch(), *s_.file_system, done);
    } catch (const util::RunEnd&) {
        for (std::size_t i = 0; i < done; ++i) {
            slots[i]->completed = true;
        }
        throw;
    }
}

FileFlow::~FileFlow() = default;

void FileFlow::handle(const std::string& directory, const std::string& name, const platform::FindRecord& entry) {
    Slot& slot = ring_.next();
    slot.only_events = false;
    slot.completed = false;
    current_ = &slot;
    decide(slot, directory, name, entry);
    stage_ = Stage::idle;
    current_ = nullptr;
    const bool selected = slot.outcome.decision == Decision::selected;
    ring_.submit(selected, selected && work::groupable(s_.options, slot.outcome));
}

void FileFlow::handle_listed(const std::string& source, bool excluded) {
    Slot& slot = ring_.next();
    slot.only_events = false;
    slot.completed = false;
    FileOutcome& out = slot.outcome;
    out.reset();
    out.listed = true;
    out.source = source;
    out.shown_source = paths::shown_path(out.source);
    // A listed file shows nothing before its record: nothing of it has to
    // go out before a line its decision writes.
    slot.shown = Shown::decided;
    slot.events_shown = 0;
    current_ = &slot;
    stage_ = Stage::preparing;
    plan::place_listed_file(s_, *this, excluded, out);
    stage_ = Stage::idle;
    current_ = nullptr;
    // The directories made for it stay held until it is recorded.
    out.destination_chain = s_.engine.held_chain;
    ring_.submit(out.decision == Decision::selected);
}

void FileFlow::decide(Slot& slot, const std::string& directory, const std::string& name,
                      const platform::FindRecord& entry) {
    FileOutcome& out = slot.outcome;
    slot.shown = Shown::nothing;
    slot.events_shown = 0;
    stage_ = Stage::selecting;
    plan::begin_outcome(s_, directory, name, entry, out);
    plan::select_file(s_, out);
    if (out.decision == Decision::selected) {
        plan::place_file(s_, directory, out);
    }
    if (out.decision != Decision::selected) {
        return;
    }
    stage_ = Stage::preparing;
    plan::prepare_copy(s_, out);
}

// Writes what the file shows up to `upto`: its head, and the planner's
// events in their places between the parts of it. A listed file has no
// head: only its events come before its record.
void FileFlow::show_head(Slot& slot, Shown upto) {
    record::FileReport report(s_, slot.outcome);
    if (slot.shown == Shown::nothing && upto != Shown::nothing) {
        const FileOutcome& out = slot.outcome;
        record::note_recorded_directory(s_,
                                        std::string_view(out.source).substr(0, out.source.size() - out.name.size()));
        report.begin();
        slot.shown = Shown::found;
    }
    if (slot.shown != Shown::nothing) {
        show_events(slot, false);
    }
    if (slot.shown == Shown::found && upto == Shown::decided) {
        report.decision();
        slot.shown = Shown::decided;
    }
    if (slot.shown == Shown::decided) {
        show_events(slot, true);
    }
}

void FileFlow::show_events(Slot& slot, bool after_head) {
    const PlanEvents& events = slot.outcome.events;
    record::FileReport report(s_, slot.outcome);
    while (slot.events_shown < events.size() && (after_head || !events[slot.events_shown].after_head)) {
        report.event(events[slot.events_shown++]);
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

PlanEvent& FileFlow::add_event(PlanEvent::Kind kind) {
    if (current_ != nullptr && stage_ != Stage::idle) {
        return current_->outcome.events.add(kind);
    }
    bool opened = false;
    Slot& slot = ring_.events(opened);
    if (opened) {
        slot.only_events = true;
        slot.outcome.events.clear();
    }
    return slot.outcome.events.add(kind);
}

template <class Taken>
void FileFlow::settle_when(Taken taken) {
    if (ring_.any_in_flight([&taken](const Slot& slot) { return taken(slot.outcome); })) {
        settle();
    }
}

void FileFlow::settle_if_taken(const std::string& destination) {
    // A listed file is a source as well as a copy: a list may name a file
    // that an earlier line's copy writes.
    settle_when([&destination](const FileOutcome& other) {
        return paths::equal_ignoring_case(other.planned_destination, destination) ||
               (other.listed && paths::equal_ignoring_case(other.source, destination));
    });
}

namespace {

// A path below `dir`: longer, and a separator right after it.
bool is_below(std::string_view path, std::string_view dir) {
    return path.size() > dir.size() && paths::is_separator(path[dir.size()]) &&
           paths::starts_with_ignoring_case(path, dir);
}

}  // namespace

void FileFlow::settle_if_read(const std::string& source) {
    const std::string_view dir = paths::parent(source);
    settle_when([&source, dir](const FileOutcome& other) {
        return paths::equal_ignoring_case(other.source, source) ||
               paths::equal_ignoring_case(paths::parent(other.destination), dir) || is_below(source, other.destination);
    });
}

void FileFlow::settle_if_below(const std::string& dir) {
    settle_when([&dir](const FileOutcome& other) { return is_below(dir, other.destination); });
}

void FileFlow::record(Slot& slot, bool worked) {
    if (slot.only_events) {
        record::FileReport report(s_, slot.outcome);
        for (std::size_t i = 0; i < slot.outcome.events.size(); ++i) {
            report.event(slot.outcome.events[i]);
        }
        return;
    }
    record_file(slot, worked);
    // Its destination directories need not stay held for it any more.
    slot.outcome.destination_chain.reset();
    if (!slot.outcome.listed) {
        record::count_processed_file(s_);
    }
}

void FileFlow::record_cut(Slot& slot) {
    if (slot.completed) {
        record(slot, true);
        return;
    }
    if (withdraw_cut_copy(slot.outcome)) {
        record(slot, true);
        return;
    }
    // What a run shows of a file whose copy it ended in.
    show_head(slot, Shown::decided);
    slot.outcome.destination_chain.reset();
}

// A line of the file list: what was decided, or its copy and the list's
// progress line.
void FileFlow::record_listed(const FileOutcome& out) {
    record::FileReport report(s_, out);
    if (out.decision != Decision::selected) {
        report.decision();
        return;
    }
    report.result();
    if (out.copied) {
        ++listed_copies_;
        listed_copied_bytes_ += static_cast<std::int64_t>(out.entry.size);
    }
    report.list_progress(list_progress_);
}

void FileFlow::record_file(Slot& slot, bool worked) {
    FileOutcome& out = slot.outcome;
    show_head(slot, Shown::decided);
    if (out.listed) {
        record_listed(out);
        return;
    }
    if (out.decision == Decision::no_streams) {
        record::FileReport(s_, out).no_streams();
        return;
    }
    if (out.decision != Decision::selected || !worked) {
        return;
    }
    if (out.copied) {
        ++s_.dupes.files_copied_so_far;
        plan::note_copy_written(s_, out.destination, out.source);
    }
    record::FileReport(s_, out).result();
}

}  // namespace veldro::engine
