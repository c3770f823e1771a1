#include "record/file_record.h"

#include "record/run_report.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "platform/live_status.h"
#include "platform/system.h"
#include "record/log_set.h"
#include "record/manifests.h"
#include "record/throughput.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::record {

namespace {

constexpr const char* modes_module = ".\\ads_veldro_test";
constexpr const char* source_filler = "  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |";

// The extra digest kinds in the order they are written, with the label
// that names each in the --UNICODE file.
struct ShaKind {
    hash::DigestKind kind;
    const char* label;
    bool HashOptions::*flag;
};

constexpr std::array<ShaKind, 4> sha_kinds{{
    {hash::DigestKind::sha1, "|SHA1|", &HashOptions::sha1},
    {hash::DigestKind::sha256, "|SHA2|", &HashOptions::sha256},
    {hash::DigestKind::sha384, "|SHA3|", &HashOptions::sha384},
    {hash::DigestKind::sha512, "|SHA5|", &HashOptions::sha512},
}};

bool sha_selected(const HashOptions& h, const ShaKind& k) {
    return h.*(k.flag) != 0;
}

// The text of a selected SHA kind. A file that could not be opened has no
// SHA-2 text at all; an error text of the kind's width stands in for it,
// so that no stale or empty field passes for a digest.
std::string_view sha_text(const hash::HashSet& set, hash::DigestKind kind) {
    const std::string_view text = set.text(kind);
    return text.empty() ? hash::read_error_text(kind) : text;
}

std::FILE* report(const Run& s) {
    return s.files.report_stream != nullptr ? s.files.report_stream : stdout;
}

std::FILE* error_stream(const Run& s) {
    return s.files.error_stream != nullptr ? s.files.error_stream : stderr;
}

void put(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
}

// One field of the --UNICODE record: the text and a bar after it.
void write_unicode_field(std::FILE* stream, std::string_view text) {
    write_unicode_text(stream, text);
    write_unicode_text(stream, "|");
}

const char* verdict_text(bool match) {
    return match ? "OK" : "HASH ERROR";
}

// "yyyy/mm/dd|hh:mm:ss" [":mmm"] and the letter with its bar.
void write_time_group(std::FILE* log, const times::CalendarParts& p, bool milli, char letter) {
    std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    if (milli) {
        std::fprintf(log, ":%03d", p.millisecond);
    }
    std::fprintf(log, "%c|", letter);
}

void write_three_times(std::FILE* log, const times::FileTimeFields& f, bool milli) {
    write_time_group(log, f.creation, milli, 'c');
    write_time_group(log, f.last_write, milli, 'm');
    write_time_group(log, f.last_access, milli, 'a');
}

void report_time_failure(const Run& s, int console_line, int log_line, std::string_view shown,
                         const std::error_code& error) {
    const std::string reason = platform::error_text(error);
    std::fprintf(stderr, "\n%d Can't reset filetime for %.*s (%s)\n", console_line, static_cast<int>(shown.size()),
                 shown.data(), reason.c_str());
    std::FILE* errors = error_stream(s);
    if (errors != stderr) {
        std::fprintf(errors, "\n%d Can't reset filetime for %.*s (%s)\n", log_line, static_cast<int>(shown.size()),
                     shown.data(), reason.c_str());
    }
}

// A stream that could be copied by neither way, or whose name may not
// become part of a file name: it is reported (with the reason when there
// is one beyond a failed copy) and the run does not end as a success.
void report_stream_not_extracted(Run& s, const StreamOutcome& one) {
    const std::string system_reason = one.error ? platform::error_text(one.error) : std::string();
    const char* reason = one.unsafe_name ? "stream name holds a path separator"
                         : one.error     ? system_reason.c_str()
                                         : nullptr;
    const std::string shown = paths::shown_path(one.file);
    std::printf("\n\n%s\n NOT EXTRACTED (error) to %s ", one.text.c_str(), shown.c_str());
    if (reason != nullptr) {
        std::printf("(%s) ", reason);
    }
    if (error_stream(s) != stderr) {
        std::fprintf(error_stream(s), "\n%s | NOT EXTRACTED to %s", one.text.c_str(), shown.c_str());
        if (reason != nullptr) {
            std::fprintf(error_stream(s), " (%s)", reason);
        }
    }
    ++s.counters.copy_failures;
}

// "%s  | %S |" with the MD5, then each selected SHA text as " %S |" (the
// destination's with a blank after the bar).
void write_digest_columns(std::FILE* log, std::string_view shown, const hash::HashSet& digests, const Run& s,
                          bool blank_after_sha) {
    std::fprintf(log, "%.*s  | %s |", static_cast<int>(shown.size()), shown.data(), digests.md5.data());
    for (const ShaKind& k : sha_kinds) {
        if (sha_selected(s.hashing, k)) {
            std::fputc(' ', log);
            put(log, digests.text(k.kind));
            std::fputs(blank_after_sha ? " | " : " |", log);
        }
    }
}

}  // namespace

void record_not_copied(Run& s, const std::string& path, const char* reason) {
    ++s.counters.files_not_processed;
    file_not_copied(s.files, path, reason);
    if (s.files.not_copied_log != nullptr) {
        std::fprintf(s.files.not_copied_log, "\n%s| %s", util::shown_name(path).c_str(), reason);
    }
}

void note_creation_time_left(Run& s) {
    if (s.engine.creation_note_written) {
        return;
    }
    s.engine.creation_note_written = true;
    std::fprintf(stderr,
                 "\nCreation times cannot be set on the file system of %s: copies keep the ones it gives them\n",
                 paths::shown_path(s.paths.dest_path).c_str());
}

void directory_times_not_set(const std::string& path, bool found) {
    const std::string shown = paths::shown_path(path);
    if (!found) {
        std::fprintf(stderr, "\n%d %s: Can't get handle to reset the date\\time for directory %s\n", 394,
                     ".\\get_dtim_u", shown.c_str());
    } else {
        std::fprintf(stdout, "\n%d %s Can't reset %s date/time\n", 411, ".\\get_dtim_u", shown.c_str());
    }
}

// The three times of the file broken down for the logs and the console,
// computed once per file and only when something shows them.
const times::FileTimeFields& FileReport::fields() {
    if (!fields_ready_) {
        times::break_down_file_times(o_.entry.times, fields_, s_.logs.zulu_time != 0, times::BreakDown::as_found);
        fields_ready_ = true;
    }
    return fields_;
}

void FileReport::begin() {
    begin_file(s_.files, o_.source, o_.entry);
    s_.counters.bytes_processed += static_cast<std::int64_t>(o_.entry.size);
    if (std::FILE* log = s_.files.list_log) {
        std::fprintf(log, "\n%s|", o_.shown_source.c_str());
        std::fprintf(log, " %lld|", static_cast<long long>(o_.entry.size));
        write_three_times(log, fields(), s_.logs.milli != 0);
    }
}

void FileReport::event(const PlanEvent& event) {
    switch (event.kind) {
        case PlanEvent::Kind::directory_made:
            write_directory_created(s_, event.path);
            return;
        case PlanEvent::Kind::renamed:
            note_renamed(s_.files, event.path);
            return;
        case PlanEvent::Kind::tilde_renamed:
            note_renamed(s_.files, event.path);
            write_tilde_rename(s_, event.path, event.to);
            return;
        case PlanEvent::Kind::stream_error_ignored:
            write_stream_error_ignored(s_);
            return;
        case PlanEvent::Kind::stream_name_unreadable:
            write_stream_name_unreadable(s_);
            return;
        case PlanEvent::Kind::directory_unreadable:
            write_unreadable_directory(s_, event.path, event.error);
            return;
        case PlanEvent::Kind::directory_bypassed:
            write_bypassed_directory(s_, event.path);
            return;
        case PlanEvent::Kind::directory_counted:
            write_directory_count(s_);
            return;
        case PlanEvent::Kind::list_line_left_out:
            util::write_line_left_out(event.number, event.path);
            return;
        case PlanEvent::Kind::directory_not_dated:
            directory_times_not_set(event.path, event.found);
            return;
        case PlanEvent::Kind::leftover_removed:
            report_leftover_temporary(s_, event.path, LeftoverFate::removed, {});
            return;
        case PlanEvent::Kind::leftover_kept:
            report_leftover_temporary(s_, event.path, LeftoverFate::kept, {});
            return;
        case PlanEvent::Kind::leftover_not_removed:
            report_leftover_temporary(s_, event.path, LeftoverFate::not_removed, event.error);
            return;
    }
}

void FileReport::decision() {
    if (o_.listed) {
        listed_decision();
        return;
    }
    switch (o_.decision) {
        case Decision::skipped:
            if (o_.older) {
                ++s_.counters.not_processed_newer;
            }
            if (!o_.reason_needs_log || s_.files.not_copied_log != nullptr) {
                record_not_copied(s_, o_.source, o_.reason);
            }
            file_not_copied(s_.files, o_.source, o_.reason);
            return;
        case Decision::listed_only: {
            std::FILE* out = report(s_);
            const char delim = s_.console.delimiter;
            std::fprintf(out, "%s%c", o_.shown_source.c_str(), delim);
            if (s_.copy.list_only == ListOnly::with_destinations) {
                std::fprintf(out, "%10s %c ==> %c %s", o_.size_text.c_str(), delim, delim,
                             paths::shown_path(o_.destination).c_str());
            }
            std::fputc('\n', out);
            record_not_copied(s_, o_.source, o_.reason);
            return;
        }
        case Decision::directory:  // the file list's own: listed_decision()
        case Decision::excluded:
        case Decision::not_located:
        case Decision::present:
        case Decision::onto_itself:
            return;
        case Decision::selected:
        case Decision::no_streams:
            break;
    }
    // The head of the copy line: the name column padded (or, for the path,
    // also cut) to its width in characters, the size and the destination.
    std::FILE* out = report(s_);
    if (s_.console.name_only != 0) {
        const std::string shown_name = util::shown_name(o_.name);
        const auto width = static_cast<std::size_t>(s_.console.width_given > 0 ? s_.console.width_given : 0);
        std::fputs(shown_name.c_str(), out);
        for (std::size_t i = util::char_count(shown_name); i < width; ++i) {
            std::fputc(' ', out);
        }
    } else {
        const auto width = static_cast<std::size_t>(s_.console.name_width > 0 ? s_.console.name_width : 0);
        std::fputs(util::fit_to_width(o_.shown_source, width).c_str(), out);
    }
    std::fputc(s_.console.delimiter, out);
    std::fputc('\n', out);
    const times::CalendarParts& written = fields().last_write;
    // The copy's path as decided: with --ADSCHILD the work leaves the
    // destination naming the directory its stream files went to.
    const std::string& decided = o_.streams_only ? o_.planned_destination : o_.destination;
    std::fprintf(out, " %10s ==> %s", o_.size_text.c_str(), paths::shown_path(decided).c_str());
    std::fputs(o_.existed ? "   [UPDATED]" : "   [NEW FILE]", out);
    std::fprintf(out, "    %04d/%02d/%02d | %02d:%02d:%02d", written.year, written.month, written.day, written.hour,
                 written.minute, written.second);
    ++s_.engine.dir_copied_count;
}

// A failed copy on the console and in the error log, each line ending
// with the system's reason where the failure has one.
void FileReport::copy_error(const std::error_code& error) {
    const std::string shown_dest = paths::shown_path(o_.destination);
    const std::string reason = error ? platform::error_text(error) : std::string();
    std::fprintf(stdout, "\n\n%s\n NOT COPIED (error) to %s ", o_.shown_source.c_str(), shown_dest.c_str());
    if (error) {
        std::fprintf(stdout, "(%s)", reason.c_str());
    }
    std::FILE* errors = error_stream(s_);
    if (errors != stderr) {
        std::fprintf(errors, "\n%s | NOT COPIED to %s", o_.shown_source.c_str(), shown_dest.c_str());
        if (error) {
            std::fprintf(errors, " (%s)", reason.c_str());
        }
    }
    record_not_copied(s_, o_.source, "reason: ******** COPY ERROR *******");
    ++s_.counters.copy_failures;
}

void FileReport::no_streams() {
    if (o_.streams_open_failed) {
        // A file that could not even be opened is a failure, not a file
        // without streams.
        copy_error(std::error_code());
        std::fputc('\n', report(s_));
        file_not_copied(s_.files, o_.source, "reason: FILE COULD NOT BE OPENED");
    } else {
        file_not_copied(s_.files, o_.source, "reason: NO NAMED STREAMS");
    }
}

void FileReport::stream_listing(const StreamListing& listing) {
    // Its messages and question in their place; the count is the work's
    // own, which it took when it listed the streams.
    (void)count_after_listing(s_, listing.status, listing.listed);
}

void FileReport::extracted_stream(const StreamOutcome& one) {
    if (one.unsafe_name) {
        report_stream_not_extracted(s_, one);
        return;
    }
    if (one.written) {
        ++s_.counters.ads_files_copied;
    } else {
        report_stream_not_extracted(s_, one);
    }
    if (one.digest_buffer_missing) {
        report_digest_buffer_failure();
    }
    if (std::FILE* log = s_.files.hash_log; !o_.streams_only && log != nullptr && s_.hashing.any()) {
        std::fputs("\n", log);
        if (s_.hashing.compare) {
            std::fputs(source_filler, log);
        }
        std::fprintf(log, "%s  | %s", paths::shown_path(one.file).c_str(), one.file_md5.data());
    }
    if (one.written) {
        stream_file_written(s_.files, o_.source, one.name, one.file, o_.entry);
    }
}

void FileReport::hashed_stream(const StreamOutcome& one) {
    if (!one.source_read) {
        std::printf("\n%d %s\nCouldn't get filetime for %s", 319, modes_module, one.text.c_str());
    }
    std::FILE* log = s_.files.hash_log;
    const HashOptions& mode = s_.hashing;
    if (!mode.any() || log == nullptr) {
        return;
    }
    ++s_.counters.files_hashed;
    std::fputs("\n", log);
    if (mode.hash_sources) {
        write_digest_columns(log, one.text, one.source_digests, s_, false);
    }
    if (mode.hash_copies) {
        write_digest_columns(log, one.destination_text, one.destination_digests, s_, true);
    }
    if (mode.compare) {
        std::fputs(one.match ? " [OK] " : " [ERROR] ", log);
        if (!one.match) {
            // A copy whose stream differs is not a faithful copy.
            ++s_.counters.copy_failures;
        }
    }
}

void FileReport::streams() {
    const std::size_t used = o_.extracted_streams + o_.hashed_streams;
    std::size_t next = 0;
    for (const StreamListing& listing : o_.listings) {
        for (; next < listing.first_stream && next < used; ++next) {
            next < o_.extracted_streams ? extracted_stream(o_.streams[next]) : hashed_stream(o_.streams[next]);
        }
        stream_listing(listing);
    }
    for (; next < used; ++next) {
        next < o_.extracted_streams ? extracted_stream(o_.streams[next]) : hashed_stream(o_.streams[next]);
    }
}

void FileReport::unicode_record() {
    std::FILE* unicode = s_.files.unicode_list_stream;
    if (unicode == nullptr) {
        return;
    }
    const HashOptions& h = s_.hashing;
    if (h.compare) {
        write_unicode_text(unicode, o_.match ? " [OK]" : " [HASH ERROR]");
    }
    for (const ShaKind& k : sha_kinds) {
        if (sha_selected(h, k)) {
            write_unicode_text(unicode, k.label);
            write_unicode_field(unicode, sha_text(o_.source_digests, k.kind));
        }
    }
    write_unicode_text(unicode, "\r\n");
}

void FileReport::hash_log() {
    const HashOptions& h = s_.hashing;
    std::FILE* log = s_.files.hash_log;
    if (log == nullptr) {
        return;
    }
    const std::string source_shown = paths::shown_path(o_.source);
    const std::string dest_shown = paths::shown_path(o_.destination);
    // One side: its name, its MD5 and each selected SHA text.
    const auto write_side = [&](const std::string& shown, const hash::HashSet& digests) {
        std::fprintf(log, "%s  | %s ", shown.c_str(), digests.md5.data());
        for (const ShaKind& k : sha_kinds) {
            if (sha_selected(h, k)) {
                std::fputs(" | ", log);
                put(log, sha_text(digests, k.kind));
                std::fputs(" ", log);
            }
        }
    };
    if (h.hash_sources || h.hash_copies) {
        ++s_.counters.files_hashed;
    }
    if (h.hash_sources) {
        std::fputs("\n", log);
        write_side(source_shown, o_.source_digests);
    }
    if (h.hash_copies) {
        std::fputs(h.compare ? "|" : "\n", log);
        write_side(dest_shown, o_.destination_digests);
    }
    if (h.compare) {
        // A copy that could not be written is a failed copy, said on its
        // own line with the reason; no digest of it was compared.
        const bool differ = !o_.match && o_.copied;
        if (differ) {
            ++s_.counters.hash_mismatches;
            if (std::FILE* errors = s_.files.hash_error_log) {
                std::fprintf(errors, "%s  | %s |", source_shown.c_str(), o_.source_digests.md5.data());
                std::fprintf(errors, "%s  | %s |ERROR\n", dest_shown.c_str(), o_.destination_digests.md5.data());
                std::fflush(errors);
            }
        }
        if (!o_.match) {
            if (std::FILE* rerun = s_.files.hash_rerun_log) {
                std::fprintf(rerun, "%s  | %s\n", source_shown.c_str(), o_.source_digests.md5.data());
                std::fflush(rerun);
            }
        }
        std::fprintf(log, "|[%s]", o_.copied ? verdict_text(o_.match) : "NOT COPIED");
    }
    std::fflush(log);
}

bool FileReport::verification() {
    const HashOptions& h = s_.hashing;
    std::FILE* unicode = s_.files.unicode_list_stream;
    const std::string source_name = util::shown_name(o_.source);
    if (!h.any() && unicode != nullptr) {
        write_unicode_text(unicode, source_name);
    }
    // With --QUIET the lines of a file go where the others went: nowhere.
    std::FILE* hashing = s_.console.quiet ? report(s_) : stderr;
    const std::string dest_name = h.hash_copies ? util::shown_name(o_.destination) : std::string();
    if (h.hash_sources && h.hash_copies) {
        // One call for both lines: the console takes them in one write.
        std::fprintf(hashing, "\n HASHING: %s\n HASHING: %s", source_name.c_str(), dest_name.c_str());
    } else if (h.hash_sources) {
        std::fprintf(hashing, "\n HASHING: %s", source_name.c_str());
    }
    if (h.hash_sources && unicode != nullptr) {
        write_unicode_field(unicode, source_name);
        write_unicode_field(unicode, o_.source_digests.md5.data());
    }
    if (h.hash_copies) {
        if (!h.hash_sources) {
            std::fprintf(hashing, "\n HASHING: %s", dest_name.c_str());
        }
        for (int attempt = 1; attempt <= o_.retries; ++attempt) {
            std::fprintf(stdout, "\nRetry #%d\n", attempt);
            std::fprintf(stdout, "Copy: %s\n", source_name.c_str());
            std::fprintf(stdout, "To:   %s\n", dest_name.c_str());
            if (static_cast<std::size_t>(attempt) < o_.copy_changed.size() && o_.copy_changed[attempt]) {
                std::fprintf(report(s_), "\nSource changed while it was copied: %s\n", source_name.c_str());
            }
        }
        if (unicode != nullptr) {
            write_unicode_field(unicode, dest_name);
            write_unicode_field(unicode, o_.destination_digests.md5.data());
        }
    }
    if (h.compare && o_.copied) {
        std::fprintf(report(s_), " [%s]", verdict_text(o_.match));
        if (!o_.match) {
            ++s_.counters.copy_failures;
        }
    } else if (o_.source_changed && o_.copied) {
        // Nothing proves such a copy: the run does not end as a success.
        ++s_.counters.copy_failures;
    }
    unicode_record();
    hash_log();
    note_digests(s_.files, h.hash_sources ? &o_.source_digests : nullptr,
                 h.hash_copies ? &o_.destination_digests : nullptr, h.compare, o_.match);
    note_source_changed(s_.files, o_.copied && o_.source_changed);
    if (o_.copied && o_.source_changed && (!h.compare || !o_.match)) {
        ++s_.counters.sources_changed;
    }
    return !h.compare || o_.match;
}

// A source whose file system reported a size other than the bytes read
// from it (a pseudo-file that reports 0): the copy and every record carry
// the bytes read, and the size reported is noted.
void FileReport::size_read_note() {
    if (o_.reported_size_text.empty()) {
        return;
    }
    std::fprintf(report(s_), "\nSize reported %s, read %s: %s\n", o_.reported_size_text.c_str(),
                 o_.opened_size_text.c_str(), util::shown_name(o_.source).c_str());
}

void FileReport::copied_line() {
    std::FILE* log = s_.files.copied_log;
    // The source's full UTF-8 form: cutting a character to one byte would
    // make every name beyond ASCII unreadable in this log.
    const std::string& size = o_.opened_size_text.empty() ? o_.size_text : o_.opened_size_text;
    std::fprintf(log, "%14s |%s|", size.c_str(), o_.shown_source.c_str());
    std::fprintf(log, " ==> |%s|", paths::shown_path(o_.destination).c_str());
    write_three_times(log, fields(), s_.logs.milli != 0);
    if (o_.hashed && s_.hashing.hash_sources) {
        std::fprintf(log, "%s|", o_.source_digests.md5.data());
    }
    std::fputc('\n', log);
}

void FileReport::progress_line() {
    RunCounters& counters = s_.counters;
    ProgressState& p = s_.progress;
    std::fputc('\n', report(s_));
    std::fprintf(report(s_), " %ld of %ld files:    %s of %s bytes\n", static_cast<long>(counters.files_processed) + 1,
                 static_cast<long>(p.files_to_process), util::with_separators(counters.bytes_processed).c_str(),
                 p.bytes_to_process_text.c_str());
    platform::publish_done(counters.files_processed + 1, counters.bytes_processed);
    if (counters.bytes_processed > p.next_progress_bytes) {
        show_throughput(s_, p.bytes_to_process, counters.bytes_processed);
        // Workers go on copying meanwhile: an abort key typed now stops them.
        pause_watching_abort_key(3);
        p.next_progress_bytes = counters.bytes_processed + 200000000;
    }
}

void FileReport::times() {
    if (o_.access_moved) {
        ++s_.counters.sources_access_moved;
    }
    if (o_.copied && !o_.owner_kept) {
        ++s_.counters.owners_not_kept;
    }
    if (o_.source_times.failed) {
        report_time_failure(s_, 1294, 1296, o_.shown_source, o_.source_times.reason);
    }
    if (o_.copy_times.failed) {
        report_time_failure(s_, 1309, 1311, paths::shown_path(o_.destination), o_.copy_times.reason);
    } else if (o_.creation_left) {
        note_creation_time_left(s_);
    }
}

void FileReport::result() {
    if (o_.listed) {
        listed_result();
        return;
    }
    if (std::FILE* log = s_.files.unicode_log) {
        std::string line = o_.shown_source;
        line += " | ";
        line += util::shown_name(o_.planned_destination);
        line += "\r\n";
        write_unicode_text(log, line);
    }
    if (o_.buffer_missing) {
        std::fprintf(stderr, "\n%s\n%d\nCouldn't create output copy buffer\n", ".\\s_list_u", 655);
    }
    if (!o_.copy_changed.empty() && o_.copy_changed.front()) {
        std::fprintf(report(s_), "\nSource changed while it was copied: %s\n", util::shown_name(o_.source).c_str());
    }
    size_read_note();
    streams();
    if (!o_.copied) {
        note_failure_detail(s_.files, o_.failure_detail != nullptr ? o_.failure_detail : "");
        copy_error(o_.copy_error);
    }
    if (o_.attributes.failed) {
        std::fprintf(error_stream(s_), "\nCouldn't reset file attribute of %s (%s)",
                     paths::shown_path(o_.destination).c_str(), platform::error_text(o_.attributes.reason).c_str());
    }
    const bool verified = !o_.hashed || verification();
    // Only a copy that was made and, where both sides were hashed, matches
    // its source is a successful copy: it alone is listed and counted.
    const bool succeeded = o_.copied && verified;
    if (o_.copied && !verified) {
        // Listed as not copied; the manifests keep the copy with its
        // mismatch, which file_done below records.
        ++s_.counters.files_not_processed;
        if (std::FILE* log = s_.files.not_copied_log) {
            std::fprintf(log, "\n%s| reason: HASH ERROR: COPY NOT VERIFIED", util::shown_name(o_.source).c_str());
        }
    }
    if (s_.files.copied_log != nullptr && succeeded) {
        copied_line();
    }
    note_source_access(s_.files, o_.access_moved);
    file_done(s_.files, o_.streams_only ? std::string() : o_.destination, o_.copied, o_.existed);
    if (succeeded) {
        // New or updated only once the copy is made and verified as asked:
        // the copies counted are always the new ones and the updated ones.
        ++s_.counters.files_copied;
        ++(o_.existed ? s_.counters.files_updated : s_.counters.files_new);
        s_.counters.bytes_copied += static_cast<std::int64_t>(o_.entry.size);
        if (!o_.existed) {
            ++s_.counters.new_copies;
        }
    }
    progress_line();
    times();
    ++s_.counters.files_completed;
}

}  // namespace veldro::record

namespace veldro::record {

namespace {

constexpr int colour_warning = 12;
constexpr int colour_normal = 158;
constexpr std::int64_t progress_step_bytes = 200000000;

std::FILE* named_error_log(const Run& s) {
    return s.logs.error_file_given != 0 ? s.files.error_stream : nullptr;
}

void ring_bell() {
    std::fputc('\a', stdout);
}

// "==> SOURCE IS DIRECTORY" and "==> NOT LOCATED": the console's text and
// the named error log's.
void listed_name_line(const Run& s, const std::string& source, const char* console_text, const char* log_text) {
    std::fprintf(stdout, "\n%s ==> %s", source.c_str(), console_text);
    if (std::FILE* log = named_error_log(s)) {
        std::fprintf(log, "\n%s ==> %s", source.c_str(), log_text);
    }
}

}  // namespace

void FileReport::listed_decision() {
    const std::string source = util::shown_name(o_.source);
    switch (o_.decision) {
        case Decision::directory:
            listed_name_line(s_, source, "SOURCE IS DIRECTORY, NOT PROCESSED", "IS DIRECTORY, NOT PROCESSED");
            return;
        case Decision::excluded:
            std::fprintf(stdout, "\nExcluding: %s\n", source.c_str());
            return;
        case Decision::not_located:
            ++s_.counters.files_not_located;
            listed_name_line(s_, source, "NOT LOCATED", "NOT LOCATED");
            if (s_.files.not_copied_log != nullptr) {
                ++s_.counters.files_not_processed;
                ring_bell();
                std::fprintf(s_.files.not_copied_log, "\n%s| Not Copied: Reason: File NOT LOCATED", source.c_str());
            }
            file_not_copied(s_.files, o_.source, "reason: NOT FOUND");
            return;
        case Decision::present:
            if (s_.files.copied_log != nullptr) {
                std::fprintf(s_.files.copied_log, "\n%s|", source.c_str());
            }
            return;
        case Decision::listed_only:
            // -n and -N: the listed file (and with -N its size and
            // destination); nothing is copied.
            std::fprintf(stdout, "%s%c", o_.shown_source.c_str(), s_.console.delimiter);
            if (s_.copy.list_only == ListOnly::with_destinations) {
                std::fprintf(stdout, "%10s %c ==> %c %s", o_.size_text.c_str(), s_.console.delimiter,
                             s_.console.delimiter, paths::shown_path(o_.destination).c_str());
            }
            std::fputs("\n", stdout);
            return;
        case Decision::onto_itself:
            listed_failure();
            return;
        case Decision::selected:
        case Decision::skipped:
        case Decision::no_streams:
            return;
    }
}

void FileReport::listed_failure() {
    const std::string shown_source = util::shown_name(o_.source);
    const std::string shown_dest = util::shown_name(o_.destination);
    const char* source = shown_source.c_str();
    const char* dest = shown_dest.c_str();
    std::FILE* error_log = error_stream(s_);
    std::FILE* not_copied = s_.files.not_copied_log;
    ring_bell();
    std::fprintf(stdout, "\nERROR: %s | NOT COPIED to %s", source, dest);
    std::fprintf(error_log, "\n%s | NOT COPIED to %s", source, dest);
    if (not_copied != nullptr) {
        std::fprintf(not_copied, "\n%s| NOT COPIED to %s|", source, dest);
    }
    // Each reason: the console's words, the error log's and the not-copied log's.
    const auto reason = [&](const char* console, const std::string& log, const char* listed) {
        std::fputs(console, stdout);
        std::fputs(log.c_str(), error_log);
        if (not_copied != nullptr) {
            std::fprintf(not_copied, "\n%s| NOT COPIED: Reason: %s", source, listed);
        }
    };
    if (o_.source_is_folder) {
        reason(" REASON: FOLDER ", "  |REASON: FOLDER", "File is folder");
    } else if (o_.entry.kind == platform::EntryKind::special) {
        // A FIFO, socket or device is never opened: the program refused it.
        reason(" REASON: NOT A REGULAR FILE ", "  |  REASON: NOT A REGULAR FILE", "Not a regular file");
    }
    if (o_.decision == Decision::onto_itself) {
        reason(" REASON: DESTINATION IS THE SOURCE ITSELF ", "  |  REASON: DESTINATION IS THE SOURCE ITSELF",
               "Destination is the source itself");
    }
    if (o_.destination_is_folder) {
        ring_bell();
        reason(" REASON: DESTINATION IS FOLDER ", "  |  REASON: " + shown_dest + " IS FOLDER", "Destination is folder");
    }
    // The system's reason ends the console and error-log lines; a special
    // file was refused by the program itself and has none but its own.
    if (o_.copy_error) {
        const std::string why = platform::error_text(o_.copy_error);
        std::fprintf(stdout, " (%s)", why.c_str());
        std::fprintf(error_log, " (%s)", why.c_str());
    }
    // A file that could not be copied is never a success of the run.
    ++s_.counters.copy_failures;
    if (not_copied != nullptr) {
        ++s_.counters.files_not_processed;
    }
}

// Source and copy digests: their comparison on the console and the hash
// log lines. False when both were hashed and differ: the copy is not a
// verified one.
bool FileReport::listed_digests() {
    const std::string_view src_text(o_.source_digests.md5.data());
    const std::string_view dst_text(o_.destination_digests.md5.data());
    note_md5(s_.files, o_.source_hashed ? src_text : "", o_.destination_hashed ? dst_text : "", o_.compared);
    if (o_.compared) {
        std::fprintf(stdout, " [%s]", o_.match ? "OK" : "HASH ERROR");
        if (!o_.match) {
            // A copy that does not match its source is not a success.
            ++s_.counters.hash_mismatches;
            ++s_.counters.copy_failures;
        }
    }
    if (std::FILE* log = s_.files.hash_log) {
        if (o_.source_hashed || o_.destination_hashed) {
            ++s_.counters.files_hashed;
        }
        if (o_.source_hashed) {
            std::fprintf(log, "\n\n%s  %s ", util::shown_name(o_.source).c_str(), src_text.data());
        }
        if (o_.destination_hashed) {
            std::fprintf(log, "\n%s  %s ", util::shown_name(o_.destination).c_str(), dst_text.data());
        }
    }
    return !o_.compared || o_.match;
}

// The copied or not-copied line of a listed copy, and its default-log line.
void FileReport::listed_logs(bool verified) {
    const std::string source = util::shown_name(o_.source);
    if (verified) {
        if (std::FILE* log = s_.files.copied_log) {
            const times::CalendarParts& c = fields().creation;
            const times::CalendarParts& w = fields().last_write;
            std::fprintf(log, "\n%s| %llu|", source.c_str(), static_cast<unsigned long long>(o_.entry.size));
            std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02dc|", c.year, c.month, c.day, c.hour, c.minute, c.second);
            std::fprintf(log, "%04d/%02d/%02d|%02d:%02d:%02dm|", w.year, w.month, w.day, w.hour, w.minute, w.second);
        }
        ++s_.counters.files_copied;
        ++(o_.existed ? s_.counters.files_updated : s_.counters.files_new);
        s_.counters.bytes_copied += static_cast<std::int64_t>(o_.entry.size);
    } else if (s_.files.not_copied_log != nullptr) {
        ++s_.counters.files_not_processed;
        std::fprintf(s_.files.not_copied_log, "\n%s| NOT COPIED: Reason: HASH ERROR, COPY NOT VERIFIED",
                     source.c_str());
    }
    note_source_access(s_.files, o_.access_moved);
    file_done(s_.files, o_.destination, true, o_.existed);
    std::FILE* log = s_.files.default_log;
    if (s_.logs.log_mask <= 1 || log == nullptr) {
        return;
    }
    const bool short_mask = s_.logs.log_mask < 3;
    std::fprintf(log, "\n%15llu %s", static_cast<unsigned long long>(o_.entry.size), source.c_str());
    if (short_mask) {
        std::fputs("\n", log);
    }
    std::fprintf(log, "        ==>%s", paths::shown_path(o_.destination).c_str());
    if (short_mask) {
        std::fputs("\n", log);
    }
}

void FileReport::listed_result() {
    // Whether a file stood at the destination was settled before the copy
    // put one there.
    begin_file(s_.files, o_.source, o_.entry);
    std::fprintf(report(s_), "\n %12llu %s", static_cast<unsigned long long>(o_.entry.size), o_.shown_source.c_str());
    if (o_.buffer_missing) {
        std::fprintf(stderr, "\n%s\n%d\nCouldn't create output copy buffer\n", ".\\s_list_u", 655);
    }
    if (!o_.copied) {
        // The earlier copy stays as it was, its protection included.
        listed_failure();
        file_not_copied(s_.files, o_.source, "reason: COPY ERROR");
        return;
    }
    if (o_.source_changed) {
        std::fprintf(stdout, "\nSource changed while it was copied: %s\n", util::shown_name(o_.source).c_str());
        ++s_.counters.sources_changed;
        if (!o_.source_hashed || !s_.hashing.hash_copies || !s_.hashing.compare) {
            ++s_.counters.copy_failures;  // no verdict will say so: the run does not end as a success
        }
    }
    note_source_changed(s_.files, o_.source_changed);
    size_read_note();
    std::fprintf(report(s_), "\n  ==> %s\n", paths::shown_path(o_.destination).c_str());
    ++s_.counters.files_processed;
    if (s_.files.list_log != nullptr) {
        std::fprintf(s_.files.list_log, "\n%s|", util::shown_name(o_.source).c_str());
    }
    // Only a verified copy is listed and counted as copied.
    listed_logs(listed_digests());
    if (o_.attributes.failed) {
        std::fprintf(error_stream(s_), "\nCouldn't reset file attribute of %s (%s)",
                     paths::shown_path(o_.destination).c_str(), platform::error_text(o_.attributes.reason).c_str());
    }
    times();
}

void FileReport::list_progress(ListProgress& progress) {
    ++progress.lines_handled;
    // With --QUIET the line of each file goes where the others went: nowhere.
    std::FILE* counts = s_.console.quiet ? report(s_) : stderr;
    std::fprintf(counts, "%10d of %d files, ", static_cast<int>(progress.lines_handled), s_.paths.expected_files);
    std::fprintf(counts, "  %s bytes\n", util::with_separators(s_.counters.bytes_copied).c_str());
    platform::publish_done(progress.lines_handled, s_.counters.bytes_copied);
    if (s_.counters.bytes_copied <= progress.next_progress_bytes) {
        return;
    }
    if (s_.counters.files_not_processed != 0) {
        platform::set_console_attribute(platform::StdStream::error, colour_warning);
        std::fprintf(stderr, "\nAT LEAST %d files not copied", static_cast<int>(s_.counters.files_not_processed));
    }
    platform::set_console_attribute(platform::StdStream::error, colour_normal);
    std::fputs("\n", stderr);
    show_throughput(s_, 0, s_.counters.bytes_copied);
    progress.next_progress_bytes = s_.counters.bytes_copied + progress_step_bytes;
}

}  // namespace veldro::record
