#include "walk/list_mode.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "copy/criteria.h"
#include "copy/destination.h"
#include "engine/file_flow.h"
#include "engine/flow_ring.h"
#include "hash/file_digest.h"
#include "logs/file_record.h"
#include "logs/throughput.h"
#include "platform/fs.h"
#include "platform/names.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/sources.h"
#include "walk/walk.h"
#include "work/worker.h"

namespace veldro::walk {
namespace {

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

void trim_trailing(std::string& text, bool line_ends_too) {
    while (!text.empty() &&
           (is_blank(text.back()) || (line_ends_too && (text.back() == '\n' || text.back() == '\r')))) {
        text.pop_back();
    }
}

void cut_at_bar(std::string& text) {
    const std::size_t bar = text.find('|');
    if (bar != std::string::npos) {
        text.erase(bar);
    }
}

// The age (days form, by time_field) and size criteria of a listed file;
// a file that is not there fails them.
bool passes_criteria(const Run& s, bool found, const platform::FindRecord& record) {
    const SelectionOptions& sel = s.selection;
    if (sel.age_select == 0 && sel.greater_select == 0 && sel.less_select == 0) {
        return true;
    }
    if (!found) {
        return false;
    }
    if (sel.age_select != 0) {
        const std::int32_t age = copy::age_in_days(record.times, sel.time_field);
        if (age < sel.older_days || age >= sel.younger_days) {
            return false;
        }
    }
    return copy::passes_size_criteria(s, record);
}

// A path below `dir`: longer, and a separator right after it.
bool is_below(std::string_view path, std::string_view dir) {
    return path.size() > dir.size() && paths::is_separator(path[dir.size()]) &&
           paths::starts_with_ignoring_case(path, dir);
}

// Lines of the list whose copies run on worker threads while this thread
// decides the next lines. Every line is recorded here, on this thread, in
// list order, once its copy and those of every line before it are done.
// What a line decides on that an earlier line's copy may still change (a
// destination being written, a source being read) waits for that copy, so
// that the decision is the one a one-thread run makes.
class ListFlow final : public WorkInFlight {
public:
    ListFlow(Run& s, unsigned threads)
        : s_(s),
          ring_(
              threads, engine::files_in_flight_per_worker, [this](FileOutcome& out) { work(out); },
              [this](FileOutcome& out, bool /*worked*/) { record(out); },
              [this](FileOutcome& out) {
                  if (engine::withdraw_cut_copy(out)) {
                      record(out);
                  }
              }) {}

    // The outcome the next line is decided in.
    FileOutcome& next() { return ring_.next(); }
    // Hands the line decided in next() over: a copy to be made, or only its
    // record.
    void submit(const FileOutcome& out) { ring_.submit(out.decision == Decision::selected); }

    void settle() override { ring_.settle(); }

    // A copy in flight writes `destination`, or reads it.
    void settle_if_taken(const std::string& destination) override {
        settle_when([&destination](const FileOutcome& other) {
            return paths::equal_ignoring_case(other.destination, destination) ||
                   paths::equal_ignoring_case(other.source, destination);
        });
    }

    // Looking at `source` could meet a copy in flight: the same source
    // (whose times it may be putting back), or a name in the directory a
    // copy is being written into, or below a copy.
    void settle_if_read(const std::string& source) {
        const std::string_view dir = paths::parent(source);
        settle_when([&source, dir](const FileOutcome& other) {
            return paths::equal_ignoring_case(other.source, source) ||
                   paths::equal_ignoring_case(paths::parent(other.destination), dir) ||
                   is_below(source, other.destination);
        });
    }

    // Making `dir` would meet a copy in flight that stands on its way.
    void settle_if_below(const std::string& dir) {
        settle_when([&dir](const FileOutcome& other) { return is_below(dir, other.destination); });
    }

    // Every line recorded: the copies made and their bytes.
    [[nodiscard]] int copies() const { return copies_; }
    [[nodiscard]] std::int64_t copied_total() const { return copied_total_; }

private:
    template <class Taken>
    void settle_when(Taken taken) {
        if (ring_.any_in_flight(taken)) {
            settle();
        }
    }

    void work(FileOutcome& out) {
        // Each thread that works keeps its buffers for its life.
        thread_local platform::ThreadOwned<work::WorkScratch> scratch;
        platform::NativeFileSystem files;
        work::work_file(s_.options, out, scratch.get(), files);
    }

    void record(FileOutcome& out) {
        logs::FileReport report(s_, out);
        if (out.decision != Decision::selected) {
            report.listed_decision();
            return;
        }
        report.listed_result();
        if (out.copied) {
            ++copies_;
            copied_total_ += static_cast<std::int64_t>(out.entry.size);
        }
        report.listed_progress(progress_);
    }

    Run& s_;
    logs::ListProgress progress_;
    int copies_ = 0;
    std::int64_t copied_total_ = 0;  // becomes bytes_processed
    engine::FlowRing<FileOutcome> ring_;
};

// Decides on a line that names a file: where its copy goes and whether it
// is made.
void decide_listed_file(Run& s, ListFlow& flow, std::string& dest_dir, FileOutcome& out) {
    flow.settle_if_read(out.source);
    const bool found = !platform::lookup_path(out.source, out.entry);
    if (found && out.entry.kind == platform::EntryKind::directory) {
        out.decision = Decision::directory;
        return;
    }
    dest_dir = listed_file_destination_dir(s.paths.dest_path, out.source);
    // A file that is not there gets no directory made for it.
    if (found && s.copy.list_only == ListOnly::off) {
        flow.settle_if_below(dest_dir);
        copy::make_directory_path(s, dest_dir, s.paths.maintain_dir_dates);
    }
    const std::string_view name = paths::file_name(out.source);
    if (!passes_criteria(s, found, out.entry) || (s.selection.exclude_mode != 0 && is_excluded(s, name))) {
        out.decision = Decision::excluded;
        return;
    }
    out.destination = paths::join(dest_dir, name);
    // A copy in flight to this name (the same file listed twice) decides
    // what this line finds there.
    flow.settle_if_taken(out.destination);
    // --TEST only records that the file is there; -n and -N only list it.
    // Neither reaches a copy, so neither counts in the progress line.
    out.decision = !found                                      ? Decision::not_located
                   : s.paths.test_mode != 0                    ? Decision::present
                   : s.copy.list_only != ListOnly::off         ? Decision::listed_only
                   : is_same_file(out.source, out.destination) ? Decision::onto_itself
                                                               : Decision::selected;
    out.size_text = util::with_separators(static_cast<std::int64_t>(out.entry.size));
    if (out.decision == Decision::onto_itself) {
        // Copying a file onto itself would destroy it on a failure.
        out.source_is_folder = platform::is_directory(out.source);
        out.destination_is_folder = platform::is_directory(out.destination);
    }
    if (out.decision != Decision::selected) {
        return;
    }
    out.existed = platform::path_exists(out.destination);
    if (s.copy.overwrite_protected != 0) {
        std::uint32_t existing = 0;
        out.protected_replaced = !platform::get_attributes(out.destination, existing) && existing != 0;
        out.protected_attributes = out.protected_replaced ? existing : 0;
    }
    const bool regular = out.entry.kind == platform::EntryKind::regular;
    out.source_hashed = s.hashing.hash_sources && regular;
    out.destination_hashed = s.hashing.hash_copies && regular;
}

// Decides on every line of the list and hands it over.
void read_listed_files(Run& s, std::FILE* list, ListFlow& flow) {
    std::string line;
    std::string dest_dir;
    bool first_line = true;
    util::ListReader lines(list, "the file list", false);
    // Its note on a line left out comes after the lines before it.
    lines.before_note([&flow] { flow.settle(); });
    while (lines.next(line)) {
        check_interrupt();
        if (first_line && line.starts_with(utf8_byte_order_mark)) {
            line.erase(0, utf8_byte_order_mark.size());
        }
        first_line = false;
        if (!clean_file_list_line(line)) {
            // A blank line ends nothing: it is counted, and the lines after
            // it are read.
            ++s.counters.list_blank_lines;
            continue;
        }
        FileOutcome& out = flow.next();
        out.reset();
        out.listed = true;
        // Normalised, so that a line climbing with ".." cannot put its copy
        // outside the destination.
        out.source = paths::make_long_path(platform::list_text_to_utf8(line));
        out.shown_source = paths::shown_path(out.source);
        decide_listed_file(s, flow, dest_dir, out);
        // The directories made for it stay held until it is copied.
        out.destination_chain = s.engine.held_chain;
        flow.submit(out);
    }
}

// The run writes its copy lines into the default log; the run header
// closed it, so it is opened again by its name.
void reopen_default_log(Run& s) {
    const LogOptions& logs = s.logs;
    if (logs.log_mask > 1 && s.files.default_log == nullptr && !logs.default_log_path.empty()) {
        s.files.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
}

}  // namespace

bool clean_file_list_line(std::string& line) {
    cut_at_bar(line);
    trim_trailing(line, true);
    return !line.empty();
}

bool clean_dirs_list_line(std::string& line) {
    // The length test counts the line as read, line end included: a line
    // of fewer than 3 bytes ends the list.
    if (line.size() + 1 < 3) {
        return false;
    }
    trim_trailing(line, true);
    cut_at_bar(line);
    trim_trailing(line, false);
    return true;
}

std::string listed_file_destination_dir(const std::string& dest_root, const std::string& source, paths::Style style) {
    const std::string_view below = paths::below_drive(paths::parent(source, style), style);
    return paths::with_trailing_separator(paths::join(dest_root, below, style), style);
}

int run_file_list(Run& s) {
    std::FILE* list = s.files.list_file;
    if (list == nullptr) {
        return 0;
    }
    logs::start_progress_clock(s);
    reopen_default_log(s);
    ListFlow flow(s, std::min(s.options.threads, platform::worker_thread_limit()));
    with_work_in_flight(s, flow, [&] { read_listed_files(s, list, flow); });
    s.counters.bytes_processed = flow.copied_total();
    return flow.copies();
}

void read_dirs_list(OptionTarget& s, std::FILE* file) {
    if (file == nullptr) {
        return;
    }
    std::string line;
    bool first_line = true;
    util::ListReader lines(file, "the directory list", false);
    while (lines.next(line)) {
        if (first_line && line.starts_with(utf8_byte_order_mark)) {
            line.erase(0, utf8_byte_order_mark.size());
        }
        first_line = false;
        if (!clean_dirs_list_line(line)) {
            break;
        }
        if (line.empty()) {
            continue;  // nothing before the bar: no path at all
        }
        // Stored like every other root: normalised (so ".." cannot lead
        // outside the destination) and without a trailing separator, so
        // the directories below it join the destination with one separator.
        std::string root = paths::make_long_path(platform::list_text_to_utf8(line));
        if (!platform::is_directory(root)) {
            continue;
        }
        s.paths.source_root_lengths.push_back(root.size());
        s.paths.source_paths.push_back(std::move(root));
    }
    std::fclose(file);
}

}  // namespace veldro::walk
