#include "walk/list_mode.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "copy/criteria.h"
#include "copy/data_copy.h"
#include "copy/destination.h"
#include "copy/times.h"
#include "copy/verify.h"
#include "hash/file_digest.h"
#include "logs/file_record.h"
#include "logs/throughput.h"
#include "platform/fs.h"
#include "platform/names.h"
#include "platform/system.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/sources.h"
#include "walk/walk.h"

namespace veldro::walk {
namespace {

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

// Working state of one list run; the strings are reused for every line.
struct ListRun {
    std::string line;
    std::string dest_dir;
    FileOutcome outcome;
    copy::WorkScratch scratch;
    logs::ListProgress progress;
    int copies = 0;
    std::int64_t copied_total = 0;  // becomes bytes_processed
};

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

void take_bytes(void* context, const unsigned char* data, std::size_t size) {
    static_cast<hash::DigestFeed*>(context)->add(data, size);
}

// The data (or, for a link, the link itself) by the system's copy and,
// when that fails, by the program's own. The source is read once: its
// digest is fed from the bytes the copy writes, and the copy tells whether
// it changed meanwhile.
void copy_data(const Options& o, FileOutcome& out, copy::WorkScratch& w) {
    platform::CopyFeed feed;
    if (out.source_hashed) {
        feed.take = &take_bytes;
        feed.context = &w.feed;
    }
    const auto restart = [&] { w.feed.start(hash::DigestSelection{}); };
    restart();
    switch (out.entry.kind) {
        case platform::EntryKind::symlink:
            out.copy_error = platform::copy_symbolic_link(out.source, out.destination);
            out.copied = !out.copy_error;
            break;
        case platform::EntryKind::special:
            // A FIFO or device is never opened for reading; refused here, not
            // by the system, so without a reason.
            out.copied = false;
            break;
        default:
            out.copy_error =
                copy::copy_two_ways(out.source, out.destination, o.copy.overwrite_protected != 0, &feed, restart);
            out.copied = !out.copy_error;
    }
    out.buffer_missing = feed.buffer_missing;
    out.source_changed = out.copied && feed.source_changed;
    if (!out.copied) {
        out.source_is_folder = platform::is_directory(out.source);
        out.destination_is_folder = platform::is_directory(out.destination);
    } else if (out.source_hashed) {
        w.feed.finish(out.source_digests);
        if (feed.source_changed) {
            hash::put_changed_texts(hash::DigestSelection{}, out.source_digests);
        }
    }
}

// The work on a located file: the copy, the copy's digest, the comparison
// and the stamp. Reads only the options and writes only its outcome.
void work_listed_file(const Options& o, FileOutcome& out, copy::WorkScratch& w) {
    out.source_digests.md5[0] = '\0';
    out.destination_digests.md5[0] = '\0';
    copy_data(o, out, w);
    if (!out.copied) {
        return;
    }
    if (out.destination_hashed) {
        hash::md5_file_digest(out.destination, &out.destination_digests.md5);
    }
    out.compared = o.hashing.compare && out.source_hashed && out.destination_hashed;
    if (out.compared) {
        out.match = copy::digests_match(out.source_digests.md5.data(), out.destination_digests.md5.data());
    }
    // -O: the new copy was renamed over a protected one, which was never
    // changed itself, and now takes its attributes.
    if (out.protected_replaced) {
        (void)platform::set_attributes(out.destination, out.protected_attributes);
    }
    if (o.copy.reset_times != 0) {
        (void)times::restore_source_times(out.source, out.entry.times);
    }
    out.creation_left = !times::stamp(out.destination, out.entry.times).creation_set;
}

// Decide for a line that names a file: where its copy goes and whether it
// is made. Returns false when the line ends here.
bool decide_listed_file(Run& s, ListRun& run) {
    FileOutcome& out = run.outcome;
    const bool found = !platform::lookup_path(out.source, out.entry);
    if (found && out.entry.kind == platform::EntryKind::directory) {
        out.decision = Decision::directory;
        return false;
    }
    run.dest_dir = listed_file_destination_dir(s.paths.dest_path, out.source);
    if (s.copy.list_only == ListOnly::off) {
        copy::make_directory_path(s, run.dest_dir, s.paths.maintain_dir_dates);
    }
    const std::string_view name = paths::file_name(out.source);
    if (!passes_criteria(s, found, out.entry) || (s.selection.exclude_mode != 0 && is_excluded(s, std::string(name)))) {
        out.decision = Decision::excluded;
        return false;
    }
    out.destination = paths::join(run.dest_dir, name);
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
    return out.decision == Decision::selected;
}

// One line of the list, from the built source path to the progress line.
void handle_listed_file(Run& s, ListRun& run) {
    FileOutcome& out = run.outcome;
    logs::FileReport report(s, out);
    if (!decide_listed_file(s, run)) {
        report.listed_decision();
        return;
    }
    if (s.copy.overwrite_protected != 0) {
        std::uint32_t existing = 0;
        out.protected_replaced = !platform::get_attributes(out.destination, existing) && existing != 0;
        out.protected_attributes = out.protected_replaced ? existing : 0;
    }
    const bool regular = out.entry.kind == platform::EntryKind::regular;
    out.source_hashed = s.hashing.hash_sources && regular;
    out.destination_hashed = s.hashing.hash_copies && regular;
    work_listed_file(s.options, out, run.scratch);
    report.listed_result();
    if (out.copied) {
        ++run.copies;
        run.copied_total += static_cast<std::int64_t>(out.entry.size);
    }
    report.listed_progress(run.progress);
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
    return line.size() > 1;
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
    ListRun run;
    bool first_line = true;
    util::ListReader lines(list, "the file list", false);
    while (lines.next(run.line)) {
        check_interrupt();
        if (first_line && run.line.starts_with(utf8_byte_order_mark)) {
            run.line.erase(0, utf8_byte_order_mark.size());
        }
        first_line = false;
        if (!clean_file_list_line(run.line)) {
            break;
        }
        // Normalised, so that a line climbing with ".." cannot put its copy
        // outside the destination.
        run.outcome.reset();
        run.outcome.source = paths::make_long_path(platform::list_text_to_utf8(run.line));
        run.outcome.shown_source = paths::shown_path(run.outcome.source);
        handle_listed_file(s, run);
    }
    s.counters.bytes_processed = run.copied_total;
    return run.copies;
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
