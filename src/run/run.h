// Run: one run of the program as the modules below the driver see it. The
// options are read-only views; the state beside them changes as the run
// goes. Tests build one from an Options record they fill in first.
#pragma once

#include "run/options.h"
#include "run/state.h"
#include "util/run_end.h"

namespace veldro {

struct Run : RunState {
    explicit Run(const Options& chosen) : options(chosen) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() = default;
    Run(Run&&) = delete;
    Run& operator=(Run&&) = delete;

    const Options& options;
    const PathOptions& paths = options.paths;
    const SelectionOptions& selection = options.selection;
    const CopyOptions& copy = options.copy;
    const HashOptions& hashing = options.hashing;
    const LogOptions& logs = options.logs;
    const ConsoleOptions& console = options.console;

    // The destination of the root being walked: in directory-list mode each
    // root has one of its own below the destination.
    [[nodiscard]] const std::string& destination_root() const {
        return engine.dest_root.empty() ? paths.dest_path : engine.dest_root;
    }
};

// Before the walk's thread asks a question, or looks at what a copy in
// flight may still change: the records of the files in flight come first.
inline void settle_work_in_flight(const Run& s) {
    if (s.in_flight != nullptr) {
        s.in_flight->settle();
    }
}

// Runs `body` with `flow` as the run's work in flight, then records every
// file still in flight. When the run ends on the way, the files finished
// before the end are recorded, as a one-thread run would have recorded
// them, and the end goes on; an end met while recording them is the one
// already under way.
template <class Body>
void with_work_in_flight(Run& s, WorkInFlight& flow, Body body) {
    s.in_flight = &flow;
    try {
        body();
        flow.settle();
    } catch (const util::RunEnd&) {
        try {
            flow.settle();
        } catch (const util::RunEnd&) {
        }
        s.in_flight = nullptr;
        s.walk_flow = nullptr;
        throw;
    }
    s.in_flight = nullptr;
    s.walk_flow = nullptr;
}

// What the option readers fill in: the options, with views like Run's,
// writable. The files the options name are opened by the run afterwards.
struct OptionTarget {
    OptionTarget(Options& chosen, const std::int64_t& start) : options(chosen), run_start(start) {}

    Options& options;
    const std::int64_t& run_start;  // calendar seconds; 0 until the run has started its clock
    PathOptions& paths = options.paths;
    SelectionOptions& selection = options.selection;
    CopyOptions& copy = options.copy;
    HashOptions& hashing = options.hashing;
    LogOptions& logs = options.logs;
    ConsoleOptions& console = options.console;
};

// Options and the run that reads them, kept together: what the driver
// makes once, and what a test makes to fill in options and state directly.
struct OwnedRun {
    OwnedRun() = default;
    OwnedRun(const OwnedRun&) = delete;
    OwnedRun& operator=(const OwnedRun&) = delete;
    OwnedRun(OwnedRun&&) = delete;
    OwnedRun& operator=(OwnedRun&&) = delete;
    ~OwnedRun() = default;

    Options options;
    Run run{options};
    OptionTarget target{options, run.progress.start_time};

    // NOLINTBEGIN(google-explicit-constructor): stands for either view.
    operator Run&() { return run; }
    operator const Run&() const { return run; }
    operator OptionTarget&() { return target; }
    // NOLINTEND(google-explicit-constructor)

    PathOptions& paths = options.paths;
    SelectionOptions& selection = options.selection;
    CopyOptions& copy = options.copy;
    HashOptions& hashing = options.hashing;
    LogOptions& logs = options.logs;
    ConsoleOptions& console = options.console;
    OpenFiles& files = run.files;
    RunCounters& counters = run.counters;
    ProgressState& progress = run.progress;
    DupeState& dupes = run.dupes;
    StreamState& streams = run.streams;
    EngineState& engine = run.engine;
};

}  // namespace veldro
