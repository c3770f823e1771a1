#include "walk/list_mode.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>

#include "copy/criteria.h"
#include "copy/data_copy.h"
#include "copy/destination.h"
#include "copy/times.h"
#include "hash/file_digest.h"
#include "logs/file_record.h"
#include "logs/manifests.h"
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

constexpr std::int64_t first_progress_bytes = 100000000;
constexpr std::int64_t progress_step_bytes = 200000000;
constexpr int colour_warning = 12;
constexpr int colour_normal = 158;
constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

// Working state of one list run; the strings are reused for every line.
struct ListRun {
    std::string line;
    std::string source;
    std::string dest_dir;
    std::string dest_file;
    platform::FindRecord record;
    copy::FileTimeFields fields;
    hash::Md5Text source_digest{};
    hash::Md5Text dest_digest{};
    int copies = 0;
    std::int32_t lines_handled = 0;
    std::int64_t copied_total = 0;  // becomes bytes_processed
    std::int64_t next_progress_bytes = first_progress_bytes;
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

// The mode is a set of bits: an INI "HASH=S" followed by -hd= leaves both
// the source and the destination bit set, without the comparing one.
bool source_hashing(const Run& s) {
    return s.hashing.hash_sources;
}
bool destination_hashing(const Run& s) {
    return s.hashing.hash_copies;
}
bool comparing_digests(const Run& s) {
    return s.hashing.compare;
}

void ring_bell() {
    std::fputc('\a', stdout);
}

std::FILE* named_error_log(const Run& s) {
    return s.logs.error_file_given != 0 ? s.files.error_stream : nullptr;
}

// A listed name that is a directory is reported and passed over.
void report_directory(const Run& s, const std::string& path) {
    const std::string source = util::shown_name(path);
    std::fprintf(stdout, "\n%s ==> SOURCE IS DIRECTORY, NOT PROCESSED", source.c_str());
    if (std::FILE* log = named_error_log(s)) {
        std::fprintf(log, "\n%s ==> IS DIRECTORY, NOT PROCESSED", source.c_str());
    }
}

void report_not_located(Run& s, const std::string& path) {
    ++s.counters.files_not_located;
    const std::string source = util::shown_name(path);
    std::fprintf(stdout, "\n%s ==> NOT LOCATED", source.c_str());
    if (std::FILE* log = named_error_log(s)) {
        std::fprintf(log, "\n%s ==> NOT LOCATED", source.c_str());
    }
    if (s.files.not_copied_log != nullptr) {
        ++s.counters.files_not_processed;
        ring_bell();
        std::fprintf(s.files.not_copied_log, "\n%s| Not Copied: Reason: File NOT LOCATED", source.c_str());
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

// -n and -N: show the listed file (and with -N its size and destination)
// and copy nothing.
void list_only_line(const Run& s, const ListRun& run) {
    std::fprintf(stdout, "%s%c", paths::shown_path(run.source).c_str(), s.console.delimiter);
    if (s.copy.list_only == ListOnly::with_destinations) {
        std::fprintf(stdout, "%10s %c ==> %c %s",
                     util::with_separators(static_cast<std::int64_t>(run.record.size)).c_str(), s.console.delimiter,
                     s.console.delimiter, paths::shown_path(run.dest_file).c_str());
    }
    std::fputs("\n", stdout);
}

void report_copy_failure(Run& s, const ListRun& run, bool onto_itself = false) {
    const std::string shown_source = util::shown_name(run.source);
    const std::string shown_dest = util::shown_name(run.dest_file);
    const char* source = shown_source.c_str();
    const char* dest = shown_dest.c_str();
    std::FILE* error_log = s.files.error_stream != nullptr ? s.files.error_stream : stderr;
    std::FILE* not_copied = s.files.not_copied_log;
    ring_bell();
    std::fprintf(stdout, "\nERROR: %s | NOT COPIED to %s", source, dest);
    std::fprintf(error_log, "\n%s | NOT COPIED to %s", source, dest);
    if (not_copied != nullptr) {
        std::fprintf(not_copied, "\n%s| NOT COPIED to %s|", source, dest);
    }
    if (platform::is_directory(run.source)) {
        std::fputs(" REASON: FOLDER ", stdout);
        std::fputs("  |REASON: FOLDER", error_log);
        if (not_copied != nullptr) {
            std::fprintf(not_copied, "\n%s| NOT COPIED: Reason: File is folder", source);
        }
    }
    if (onto_itself) {
        std::fputs(" REASON: DESTINATION IS THE SOURCE ITSELF ", stdout);
        std::fputs("  |  REASON: DESTINATION IS THE SOURCE ITSELF", error_log);
        if (not_copied != nullptr) {
            std::fprintf(not_copied, "\n%s| NOT COPIED: Reason: Destination is the source itself", source);
        }
    }
    if (platform::is_directory(run.dest_file)) {
        ring_bell();
        std::fputs(" REASON: DESTINATION IS FOLDER ", stdout);
        std::fprintf(error_log, "  |  REASON: %s IS FOLDER", dest);
        if (not_copied != nullptr) {
            std::fprintf(not_copied, "\n%s| NOT COPIED: Reason: Destination is folder", source);
        }
    }
    // A file that could not be copied is never a success of the run.
    ++s.counters.copy_failures;
    if (not_copied != nullptr) {
        ++s.counters.files_not_processed;
    }
}

// The data (or, for a link, the link itself) by the system's copy and,
// when that fails, by the program's own.
bool copy_listed_file(const ListRun& run, bool replace_protected, platform::CopyFeed& feed,
                      const std::function<void()>& restart) {
    switch (run.record.kind) {
        case platform::EntryKind::symlink:
            return platform::copy_symbolic_link(run.source, run.dest_file) == platform::CopyResult::copied;
        case platform::EntryKind::special:
            return false;  // a FIFO or device is never opened for reading
        default:
            return copy::copy_two_ways(run.source, run.dest_file, replace_protected, &feed, restart);
    }
}

void write_copied_log_line(const Run& s, const ListRun& run) {
    std::FILE* log = s.files.copied_log;
    if (log == nullptr) {
        return;
    }
    const copy::CalendarParts& c = run.fields.creation;
    const copy::CalendarParts& w = run.fields.last_write;
    std::fprintf(log, "\n%s| %" PRIu64 "|", util::shown_name(run.source).c_str(), run.record.size);
    std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02dc|", c.year, c.month, c.day, c.hour, c.minute, c.second);
    std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02dm|", w.year, w.month, w.day, w.hour, w.minute, w.second);
}

// Source and copy digests, their comparison on the console and the hash
// log lines. False when both were hashed and differ: the copy is not a
// verified one.
bool hash_and_compare(Run& s, ListRun& run, bool hashed_source) {
    const bool want_dest = destination_hashing(s) && run.record.kind == platform::EntryKind::regular;
    if (want_dest) {
        hash::md5_file_digest(run.dest_file, &run.dest_digest);
    }
    const std::string_view src_text(run.source_digest.data());
    const std::string_view dst_text(run.dest_digest.data());
    logs::note_md5(hashed_source ? src_text : "", want_dest ? dst_text : "",
                   comparing_digests(s) && hashed_source && want_dest);
    bool verified = true;
    if (comparing_digests(s) && hashed_source && want_dest) {
        const bool error =
            src_text.find("ERROR") != std::string_view::npos || dst_text.find("ERROR") != std::string_view::npos;
        const bool same = !error && src_text == dst_text;
        std::fprintf(stdout, " [%s]", same ? "OK" : "HASH ERROR");
        verified = same;
        if (!same) {
            // A copy that does not match its source is not a success.
            ++s.counters.hash_mismatches;
            ++s.counters.copy_failures;
        }
    }
    if (std::FILE* log = s.files.hash_log) {
        if (hashed_source) {
            std::fprintf(log, "\n\n%s  %s ", util::shown_name(run.source).c_str(), run.source_digest.data());
        }
        if (want_dest) {
            std::fprintf(log, "\n%s  %s ", util::shown_name(run.dest_file).c_str(), run.dest_digest.data());
        }
    }
    return verified;
}

void write_default_log_line(const Run& s, const ListRun& run) {
    std::FILE* log = s.files.default_log;
    if (s.logs.log_mask <= 1 || log == nullptr) {
        return;
    }
    const bool short_mask = s.logs.log_mask < 3;
    std::fprintf(log, "\n%15" PRIu64 " %s", run.record.size, util::shown_name(run.source).c_str());
    if (short_mask) {
        std::fputs("\n", log);
    }
    std::fprintf(log, "        ==>%s", paths::shown_path(run.dest_file).c_str());
    if (short_mask) {
        std::fputs("\n", log);
    }
}

// The copy road of one located file.
void copy_located_file(Run& s, ListRun& run) {
    // -O: the new copy is renamed over a protected one, which is never
    // changed itself, and then takes its attributes.
    std::uint32_t saved_attributes = 0;
    bool attributes_taken = false;
    if (s.copy.overwrite_protected != 0) {
        const std::optional<std::uint32_t> existing = platform::get_attributes(run.dest_file);
        if (existing && *existing != 0) {
            saved_attributes = *existing;
            attributes_taken = true;
        }
    }
    logs::begin_file(run.source, run.record, run.dest_file);
    const platform::FileTimeSet times = run.record.times;
    const bool hashed_source = source_hashing(s) && run.record.kind == platform::EntryKind::regular;
    run.source_digest[0] = '\0';
    run.dest_digest[0] = '\0';
    std::fprintf(stdout, "\n %12" PRIu64 " %s", run.record.size, paths::shown_path(run.source).c_str());

    // The source is read once: its digest is fed from the bytes the copy
    // writes, and the copy tells whether it changed meanwhile.
    hash::DigestFeed digests;
    platform::CopyFeed feed;
    if (hashed_source) {
        feed.take = [](void* context, const unsigned char* data, std::size_t size) {
            static_cast<hash::DigestFeed*>(context)->add(data, size);
        };
        feed.context = &digests;
    }
    const auto restart = [&] { digests.start(hash::DigestSelection{}); };
    restart();
    if (!copy_listed_file(run, s.copy.overwrite_protected != 0, feed, restart)) {
        // The earlier copy stays as it was, its protection included.
        report_copy_failure(s, run);
        logs::file_not_copied(run.source, "reason: COPY ERROR");
        return;
    }
    if (hashed_source) {
        hash::HashSet texts;
        digests.finish(texts);
        if (feed.source_changed) {
            hash::put_changed_texts(hash::DigestSelection{}, texts);
        }
        run.source_digest = texts.md5;
    }
    if (feed.source_changed) {
        std::fprintf(stdout, "\nSource changed while it was copied: %s\n", util::shown_name(run.source).c_str());
        if (!hashed_source || !destination_hashing(s) || !comparing_digests(s)) {
            ++s.counters.copy_failures;  // no verdict will say so: the run does not end as a success
        }
    }
    logs::note_source_changed(feed.source_changed);
    const auto size = static_cast<std::int64_t>(run.record.size);
    std::fprintf(stdout, "\n  ==> %s\n", paths::shown_path(run.dest_file).c_str());
    ++run.copies;
    ++s.counters.files_processed;
    if (s.files.list_log != nullptr) {
        std::fprintf(s.files.list_log, "\n%s|", util::shown_name(run.source).c_str());
    }
    run.copied_total += size;
    copy::break_down_file_times(times, run.fields, s.logs.zulu_time != 0, copy::BreakDown::as_found);
    // Only a verified copy is listed and counted as copied.
    if (hash_and_compare(s, run, hashed_source)) {
        write_copied_log_line(s, run);
        ++s.counters.files_copied;
        s.counters.bytes_copied += size;
    } else if (s.files.not_copied_log != nullptr) {
        ++s.counters.files_not_processed;
        std::fprintf(s.files.not_copied_log, "\n%s| NOT COPIED: Reason: HASH ERROR, COPY NOT VERIFIED",
                     util::shown_name(run.source).c_str());
    }
    logs::file_done(run.dest_file, true, false);
    write_default_log_line(s, run);

    if (attributes_taken) {
        platform::set_attributes(run.dest_file, saved_attributes);
    }
    if (s.copy.reset_times != 0) {
        copy::restore_source_times(run.source, times);
    }
    bool creation_set = true;
    copy::set_file_times(run.dest_file, times, creation_set);
    if (!creation_set) {
        logs::note_creation_time_left(s);
    }
}

void show_progress(Run& s, ListRun& run) {
    ++run.lines_handled;
    std::fprintf(stderr, "%10d of %d files, ", static_cast<int>(run.lines_handled), s.paths.expected_files);
    std::fprintf(stderr, "  %s bytes\n", util::with_separators(s.counters.bytes_copied).c_str());
    if (s.counters.bytes_copied <= run.next_progress_bytes) {
        return;
    }
    if (s.counters.files_not_processed != 0) {
        platform::set_console_attribute(platform::StdStream::error, colour_warning);
        std::fprintf(stderr, "\nAT LEAST %d files not copied", static_cast<int>(s.counters.files_not_processed));
    }
    platform::set_console_attribute(platform::StdStream::error, colour_normal);
    std::fputs("\n", stderr);
    logs::show_throughput(s, 0, s.counters.bytes_copied);
    run.next_progress_bytes = s.counters.bytes_copied + progress_step_bytes;
}

// One line of the list, from the built source path to the progress line.
void handle_listed_file(Run& s, ListRun& run) {
    const bool found = platform::lookup_path(run.source, run.record);
    if (found && run.record.kind == platform::EntryKind::directory) {
        report_directory(s, run.source);
        return;
    }
    run.dest_dir = listed_file_destination_dir(s.paths.dest_path, run.source);
    if (s.copy.list_only == ListOnly::off) {
        copy::make_directory_path(s, run.dest_dir, s.paths.maintain_dir_dates);
    }
    const std::string_view name = paths::file_name(run.source);
    if (!passes_criteria(s, found, run.record) ||
        (s.selection.exclude_mode != 0 && is_excluded(s, std::string(name)))) {
        std::fprintf(stdout, "\nExcluding: %s\n", util::shown_name(run.source).c_str());
        return;
    }
    run.dest_file = paths::join(run.dest_dir, name);
    if (!found) {
        report_not_located(s, run.source);
        logs::file_not_copied(run.source, "reason: NOT FOUND");
        return;
    }
    // --TEST only records that the file is there; -n and -N only list it.
    // Neither reaches a copy, so neither counts in the progress line.
    if (s.paths.test_mode != 0) {
        if (s.files.copied_log != nullptr) {
            std::fprintf(s.files.copied_log, "\n%s|", util::shown_name(run.source).c_str());
        }
        return;
    }
    if (s.copy.list_only != ListOnly::off) {
        list_only_line(s, run);
        return;
    }
    if (is_same_file(run.source, run.dest_file)) {
        // Copying a file onto itself would destroy it on a failure.
        report_copy_failure(s, run, true);
        return;
    }
    copy_located_file(s, run);
    show_progress(s, run);
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
        run.source = paths::make_long_path(platform::list_text_to_utf8(run.line));
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
