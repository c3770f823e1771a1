#include "copy/pipeline.h"

#include <cstdio>
#include <string_view>

#include "ads/streams.h"
#include "copy/criteria.h"
#include "copy/data_copy.h"
#include "copy/destination.h"
#include "copy/dupes.h"
#include "copy/times.h"
#include "copy/verify.h"
#include "logs/log_set.h"
#include "logs/manifests.h"
#include "logs/throughput.h"
#include "platform/names.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::copy {

namespace {

std::FILE* report(const Run& s) {
    return s.files.report_stream != nullptr ? s.files.report_stream : stdout;
}

std::FILE* error_stream(const Run& s) {
    return s.files.error_stream != nullptr ? s.files.error_stream : stderr;
}

// The three times of the file broken down for the logs and the console,
// computed once per file and only when something shows them.
class FileFields {
public:
    FileFields(const Run& s, const platform::FileTimeSet& times) : s_(s), times_(times) {}
    const FileTimeFields& get() {
        if (!ready_) {
            break_down_file_times(times_, fields_, s_.logs.zulu_time != 0, BreakDown::as_found);
            ready_ = true;
        }
        return fields_;
    }

private:
    const Run& s_;
    const platform::FileTimeSet& times_;
    FileTimeFields fields_;
    bool ready_ = false;
};

// "yyyy/mm/dd|hh:mm:ss" [":mmm"] and the letter with its bar.
void write_time_group(std::FILE* log, const CalendarParts& p, bool milli, char letter) {
    std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    if (milli) {
        std::fprintf(log, ":%03d", p.millisecond);
    }
    std::fprintf(log, "%c|", letter);
}

void write_three_times(std::FILE* log, const FileTimeFields& f, bool milli) {
    write_time_group(log, f.creation, milli, 'c');
    write_time_group(log, f.last_write, milli, 'm');
    write_time_group(log, f.last_access, milli, 'a');
}

void write_list_line(Run& s, std::string_view shown_source, const platform::FindRecord& entry, FileFields& fields) {
    std::FILE* log = s.files.list_log;
    std::fprintf(log, "\n%.*s|", static_cast<int>(shown_source.size()), shown_source.data());
    std::fprintf(log, " %lld|", static_cast<long long>(entry.size));
    write_three_times(log, fields.get(), s.logs.milli != 0);
}

// The -a filter: each attribute asked for must be present, in this order.
bool passes_attribute_filter(const Run& s, std::uint32_t attributes) {
    const SelectionOptions& sel = s.selection;
    if (sel.attr_dir_count > 1 && (attributes & platform::attr_directory) == 0) {
        return false;
    }
    if (sel.attr_readonly != 0 && (attributes & platform::attr_readonly) == 0) {
        return false;
    }
    if (sel.attr_system != 0 && (attributes & platform::attr_system) == 0) {
        return false;
    }
    if (sel.attr_hidden != 0 && (attributes & platform::attr_hidden) == 0) {
        return false;
    }
    if (sel.attr_archive != 0 && (attributes & platform::attr_archive) == 0) {
        return false;
    }
    return !(sel.attr_encrypted != 0 && (attributes & platform::attr_encrypted) == 0);
}

// The console's name column: padded (or, for the path, also cut) to its
// width in characters.
void write_name_column(Run& s, std::string_view shown_source, const std::string& name) {
    std::FILE* out = report(s);
    if (s.console.name_only != 0) {
        const std::string shown_name = util::shown_name(name);
        const std::size_t chars = util::char_count(shown_name);
        const auto width = static_cast<std::size_t>(s.console.width_given > 0 ? s.console.width_given : 0);
        std::fputs(shown_name.c_str(), out);
        for (std::size_t i = chars; i < width; ++i) {
            std::fputc(' ', out);
        }
    } else {
        const auto width = static_cast<std::size_t>(s.console.name_width > 0 ? s.console.name_width : 0);
        std::fputs(util::fit_to_width(shown_source, width).c_str(), out);
    }
    std::fputc(s.console.delimiter, out);
    std::fputc('\n', out);
}

void write_list_only_line(Run& s, std::string_view shown_source, std::string_view shown_dest) {
    std::FILE* out = report(s);
    const char delim = s.console.delimiter;
    std::fprintf(out, "%.*s%c", static_cast<int>(shown_source.size()), shown_source.data(), delim);
    if (s.copy.list_only == ListOnly::with_destinations) {
        std::fprintf(out, "%10s %c ==> %c %.*s", s.engine.size_text.c_str(), delim, delim,
                     static_cast<int>(shown_dest.size()), shown_dest.data());
    }
    std::fputc('\n', out);
}

// The line of a verified copy, with the source's digest when it was hashed.
void write_copied_line(Run& s, std::string_view shown_source, std::string_view shown_dest, FileFields& fields,
                       bool hashed) {
    std::FILE* log = s.files.copied_log;
    // The source's full UTF-8 form: cutting a character to one byte would
    // make every name beyond ASCII unreadable in this log.
    std::fprintf(log, "%14s |%.*s|", s.engine.size_text.c_str(), static_cast<int>(shown_source.size()),
                 shown_source.data());
    std::fprintf(log, " ==> |%.*s|", static_cast<int>(shown_dest.size()), shown_dest.data());
    write_three_times(log, fields.get(), s.logs.milli != 0);
    if (hashed && s.hashing.hash_sources) {
        std::fprintf(log, "%s|", last_source_digests().md5.data());
    }
    std::fputc('\n', log);
}

void write_unicode_line(Run& s, std::string_view shown_source, const std::string& destination) {
    static std::string line;
    line.assign(shown_source);
    line += " | ";
    line += util::shown_name(destination);
    line += "\r\n";
    logs::write_unicode_text(s.files.unicode_log, line);
}

// A failed copy on the console and in the error log, each line ending with
// the system's reason where the failure has one.
void report_copy_error(Run& s, std::string_view shown_source, std::string_view shown_dest,
                       const std::error_code& error) {
    const std::string reason = error ? platform::error_text(error) : std::string();
    std::fprintf(stdout, "\n\n%.*s\n NOT COPIED (error) to %.*s ", static_cast<int>(shown_source.size()),
                 shown_source.data(), static_cast<int>(shown_dest.size()), shown_dest.data());
    if (error) {
        std::fprintf(stdout, "(%s)", reason.c_str());
    }
    std::FILE* errors = error_stream(s);
    if (errors != stderr) {
        std::fprintf(errors, "\n%.*s | NOT COPIED to %.*s", static_cast<int>(shown_source.size()), shown_source.data(),
                     static_cast<int>(shown_dest.size()), shown_dest.data());
        if (error) {
            std::fprintf(errors, " (%s)", reason.c_str());
        }
    }
    log_not_copied(s, s.engine.source_file_path, "reason: ******** COPY ERROR *******");
}

void report_time_failure(Run& s, int console_line, int log_line, std::string_view shown, const std::error_code& error) {
    const std::string reason = platform::error_text(error);
    std::fprintf(stderr, "\n%d Can't reset filetime for %.*s (%s)\n", console_line, static_cast<int>(shown.size()),
                 shown.data(), reason.c_str());
    std::FILE* errors = error_stream(s);
    if (errors != stderr) {
        std::fprintf(errors, "\n%d Can't reset filetime for %.*s (%s)\n", log_line, static_cast<int>(shown.size()),
                     shown.data(), reason.c_str());
    }
}

// The destination's attributes after a copy: the source's without
// read-only, or with -O the ones the destination had before.
void settle_attributes(Run& s, const platform::FindRecord& entry, bool restore_protected,
                       std::uint32_t protected_attributes, bool copied) {
    const std::string& dest = s.engine.destination_file_path;
    std::error_code error;
    if (copied) {
        error = platform::set_attributes(dest, entry.attributes & ~platform::attr_readonly);
    }
    if (restore_protected) {
        error = platform::set_attributes(dest, protected_attributes);
    }
    if (error) {
        std::fprintf(error_stream(s), "\nCouldn't reset file attribute of %s (%s)", paths::shown_path(dest).c_str(),
                     platform::error_text(error).c_str());
    }
}

void show_progress(Run& s) {
    ProgressState& p = s.progress;
    if (s.counters.bytes_processed > p.next_progress_bytes) {
        logs::show_throughput(s, p.bytes_to_process, s.counters.bytes_processed);
        platform::pause_seconds(3);
        p.next_progress_bytes = s.counters.bytes_processed + 200000000;
    }
}

}  // namespace

int log_not_copied(Run& s, const std::string& path, const char* reason) {
    ++s.counters.files_not_processed;
    logs::file_not_copied(path, reason);
    if (s.files.not_copied_log != nullptr) {
        std::fprintf(s.files.not_copied_log, "\n%s| %s", util::shown_name(path).c_str(), reason);
    }
    return 0;
}

void process_file(Run& s, const std::string& directory, const std::string& name, const platform::FindRecord& entry) {
    EngineState& e = s.engine;
    RunCounters& counters = s.counters;

    if (directory != e.last_source_dir) {
        e.last_source_dir = directory;
        e.dir_copied_count = 0;
    }
    e.source_file_path.assign(directory);
    e.source_file_path += name;
    const std::string& source = e.source_file_path;
    const std::string shown_source = paths::shown_path(source);
    logs::begin_file(source, entry);

    platform::FileTimeSet times = entry.times;
    FileFields fields(s, entry.times);
    const bool zero_dated = is_zero_dated(entry.times);
    counters.bytes_processed += static_cast<std::int64_t>(entry.size);
    e.size_text = util::with_separators(static_cast<std::int64_t>(entry.size));

    if (s.files.list_log != nullptr) {
        write_list_line(s, shown_source, entry, fields);
    }
    // FIFOs, sockets and devices are never opened: reading a FIFO would hang.
    if (entry.kind == platform::EntryKind::special) {
        log_not_copied(s, source, "reason: NOT A REGULAR FILE");
        return;
    }
    if (s.selection.attr_filter != 0 && !passes_attribute_filter(s, entry.attributes)) {
        log_not_copied(s, source, "Attributes");
        return;
    }
    if (!passes_age_criteria(s, entry)) {
        log_not_copied(s, source, "reason: AGE Criteria");
        return;
    }
    if (!passes_size_criteria(s, entry)) {
        log_not_copied(s, source, "reason: SIZE Criteria");
        return;
    }

    const std::error_code directory_error = build_destination_path(s, directory, name);
    const bool directory_ready = !directory_error;
    std::string& dest = e.destination_file_path;
    if (s.copy.check_tilde == 1) {
        apply_tilde_rule(s, dest, entry);
    }
    rename_if_written_by_run(s, dest, source);
    const bool found = !platform::lookup_path(dest, e.destination_record);
    // With --NOCASE a name that differs only in case is the file a
    // case-insensitive destination holds under this name: it counts as
    // existing, as it does on Windows, and the copy is renamed beside it.
    const bool existed = found || (s.copy.no_case != 0 && exists_ignoring_case(s, dest));
    if (s.selection.exist_only != 0 && !existed) {
        log_not_copied(s, source, "reason: CRITERIA: destination not previously existing");
        return;
    }
    const std::int64_t difference = newer_difference(s, entry, found ? &e.destination_record : nullptr);
    if (difference < 0 && s.selection.copy_all == 0) {
        ++counters.not_processed_newer;
        log_not_copied(s, source, "reason: AGE Criteria");
        return;
    }
    if (s.copy.list_only != ListOnly::off) {
        write_list_only_line(s, shown_source, paths::shown_path(dest));
        log_not_copied(s, source, "reason: LISTING ONLY REQUESTED");
        return;
    }
    if (difference == 0 && s.selection.copy_all == 0) {
        if (s.files.not_copied_log != nullptr) {
            log_not_copied(s, source, "reason: AGE Criteria");
        }
        logs::file_not_copied(source, "reason: AGE Criteria");
        return;
    }

    // The copy road.
    write_name_column(s, shown_source, name);
    {
        const CalendarParts& written = fields.get().last_write;
        const std::string shown = paths::shown_path(dest);
        std::fprintf(report(s), " %10s ==> %s", e.size_text.c_str(), shown.c_str());
        if (!existed) {
            std::fputs("   [NEW FILE]", report(s));
            ++counters.files_new;
        } else {
            std::fputs("   [UPDATED]", report(s));
            ++counters.files_updated;
        }
        std::fprintf(report(s), "    %04d/%02d/%02d | %02d:%02d:%02d", written.year, written.month, written.day,
                     written.hour, written.minute, written.second);
    }
    ++e.dir_copied_count;

    if ((s.copy.flatten != 0 && s.copy.no_dupe != 0) || s.copy.no_case != 0) {
        rename_duplicates_before_copy(s, dest);
    }
    std::string shown_dest = paths::shown_path(dest);

    // -O: a protected copy is replaced by renaming the new one over it, so
    // that the old file (and any other name it has) is never changed; the
    // new copy then takes the attributes the old one had.
    bool protected_replaced = false;
    std::uint32_t protected_attributes = 0;
    if (s.copy.overwrite_protected != 0) {
        std::uint32_t attributes = 0;
        if (!platform::get_attributes(dest, attributes) && attributes != 0) {
            protected_attributes = attributes;
            protected_replaced = true;
        }
    }

    const bool is_link = entry.kind == platform::EntryKind::symlink;
    int stream_count = 0;
    if (!is_link && (s.copy.ads_extract != 0 || s.hashing.any())) {
        stream_count = ads::enumerate_streams(s, source);
    }
    if ((s.copy.ads_parent != 0 || s.copy.ads_child != 0) && stream_count == 0) {
        if (s.streams.open_failed) {
            // A file that could not even be opened is a failure, not a file
            // without streams.
            report_copy_error(s, shown_source, shown_dest, std::error_code());
            ++counters.copy_failures;
            std::fputc('\n', report(s));
            logs::file_not_copied(source, "reason: FILE COULD NOT BE OPENED");
        } else {
            logs::file_not_copied(source, "reason: NO NAMED STREAMS");
        }
        return;
    }
    if (s.files.unicode_log != nullptr) {
        write_unicode_line(s, shown_source, dest);
    }

    // The two ways of copying; a directory chain that could not be made
    // safely (a link standing in it) is a failed copy.
    bool copied = false;
    std::error_code copy_error = directory_error;
    const bool streams_only = s.copy.ads_child != 0;
    if (streams_only) {
        // The stream files take the place of the copy, and dest now names
        // their directory.
        copied = ads::write_source_streams(s, source, dest, entry);
        shown_dest = paths::shown_path(dest);
    } else if (directory_ready) {
        if (is_link) {
            copy_error = platform::copy_symbolic_link(source, dest);
            copied = !copy_error;
            // Reading a link moves its last-access time: put it back.
            restore_source_times(source, entry.times);
        } else {
            copy_error = copy_for_verification(s, source, dest);
            copied = !copy_error;
        }
    }
    if (s.copy.ads_extract != 0 && stream_count > 0) {
        ads::extract_copy_streams(s, source, dest, entry);
    }
    if (stream_count > 0 && s.hashing.any()) {
        ads::hash_streams(s, source, dest, entry);
    }
    if (s.copy.reset_times != 0) {
        if (copied && !streams_only) {
            set_file_times(dest, times);
        }
        restore_source_times(source, entry.times);
    }
    if (!copied) {
        logs::note_failure_detail(streams_only       ? "its named streams could not be written"
                                  : !directory_ready ? "its destination directory could not be made safely"
                                  : is_link          ? "the link could not be made at the destination"
                                                     : "neither way of copying could write the copy");
        report_copy_error(s, shown_source, shown_dest, copy_error);
        ++counters.copy_failures;
    } else {
        ++s.dupes.files_copied_so_far;
        note_copy_written(s, dest, source);
    }
    if (!is_link && !streams_only) {
        settle_attributes(s, entry, protected_replaced && copied, protected_attributes, copied);
    }

    // Links are not hashed; with --ADSCHILD the streams were hashed above.
    const bool hashed = !is_link && !streams_only;
    const bool verified = !hashed || verify_copy(s, source, dest, times, copied);
    // Only a copy that was made and, where both sides were hashed, matches
    // its source is a successful copy: it alone is listed and counted.
    const bool succeeded = copied && verified;
    if (copied && !verified) {
        // Listed as not copied; the manifests keep the copy with its
        // mismatch, which file_done below records.
        ++s.counters.files_not_processed;
        if (s.files.not_copied_log != nullptr) {
            std::fprintf(s.files.not_copied_log, "\n%s| reason: HASH ERROR: COPY NOT VERIFIED",
                         util::shown_name(source).c_str());
        }
    }
    if (s.files.copied_log != nullptr && succeeded) {
        write_copied_line(s, shown_source, shown_dest, fields, hashed);
    }
    logs::file_done(streams_only ? std::string() : dest, copied, existed);

    if (succeeded) {
        ++counters.files_copied;
        counters.bytes_copied += static_cast<std::int64_t>(entry.size);
        if (!existed) {
            ++counters.new_copies;
        }
    }
    std::fputc('\n', report(s));
    std::fprintf(report(s), " %ld of %ld files:    %s of %s bytes\n", static_cast<long>(counters.files_processed) + 1,
                 static_cast<long>(s.progress.files_to_process),
                 util::with_separators(counters.bytes_processed).c_str(), s.progress.bytes_to_process_text.c_str());
    show_progress(s);

    if (s.copy.zero_dates != 0 && zero_dated) {
        const platform::FileTime replacement =
            s.copy.zero_date_replacement.ticks != 0 ? s.copy.zero_date_replacement : platform::zero_date_time;
        if (entry.times.last_write.ticks == 1) {
            times.last_write = replacement;
        }
        if (entry.times.creation.ticks == 1) {
            times.creation = replacement;
        }
        if (copied && !streams_only) {
            set_file_times(dest, times);
        }
    }
    // The source gets back exactly the times it was found with: the
    // zero-date replacement is for the copy only.
    if (s.copy.reset_times != 0) {
        if (const std::error_code error = restore_source_times(source, entry.times)) {
            report_time_failure(s, 1294, 1296, shown_source, error);
        }
    }
    if (copied && !streams_only) {
        bool creation_set = false;
        if (const std::error_code error = set_file_times(dest, times, creation_set)) {
            report_time_failure(s, 1309, 1311, shown_dest, error);
        } else if (!creation_set && times.creation.ticks != 0) {
            note_creation_time_left(s);
        }
    }
    ++counters.files_completed;
}

}  // namespace veldro::copy
