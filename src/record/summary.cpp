#include "record/summary.h"

#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/timezone.h"
#include "record/output_faults.h"
#include "record/run_header.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::record {

namespace {

std::FILE* console(const Run& s) {
    return s.files.report_stream != nullptr ? s.files.report_stream : stdout;
}

// The error stream is the -E file (or the error member of the log set),
// not standard error.
bool error_stream_is_file(const Run& s) {
    return s.files.error_stream != nullptr && s.files.error_stream != stderr;
}

void close_stream(OpenFiles& files, std::FILE*& stream, bool closing_line_end) {
    if (stream == nullptr) {
        return;
    }
    if (closing_line_end) {
        std::fputs("\n", stream);
    }
    (void)close_output(files, stream);  // a failure is said and kept by close_output
}

// The 24-character calendar text of a time in local time, the same on both
// platforms (the Windows runtime pads the day with a zero).
std::string calendar_text(std::int64_t seconds) {
    return record::calendar_text(platform::zone_state(seconds).local);
}

// The default log, opened again for its summary when the run has it
// closed; null when there is none or it cannot be opened.
std::FILE* default_log_for_summary(Run& s) {
    const std::string& path = s.logs.default_log_path;
    if (!path.empty() && s.files.default_log == nullptr) {
        s.files.default_log = platform::open_stream(path, "r+");
        if (s.files.default_log == nullptr) {
            std::fprintf(stdout, "Can't open accounting file %s\n", path.c_str());
            return nullptr;
        }
        std::fseek(s.files.default_log, 0, SEEK_END);
    }
    return s.files.default_log;
}

const char* blank_lines(const RunCounters& c) {
    return c.list_blank_lines == 1 ? "blank line" : "blank lines";
}

void write_default_log_totals(const Run& s, std::FILE* log) {
    const RunCounters& c = s.counters;
    std::fprintf(log, "\n Processed %9d files, %12s bytes: ", c.files_processed,
                 util::with_separators(c.bytes_processed).c_str());
    std::fprintf(log, "\n Copied    %9d files, %12s bytes: ", c.files_copied,
                 util::with_separators(c.bytes_copied).c_str());
    std::fprintf(log, "\n Updated:  %9d\n New:      %9d", c.files_updated, c.files_new);
    if (s.files.not_copied_log != nullptr && c.files_not_processed != 0) {
        std::fprintf(console(s), "\n NOT COPIED %9d files\n", c.files_not_processed);
        std::fprintf(log, "\n NOT COPIED %9d files ", c.files_not_processed);
        if (c.not_processed_newer != 0) {
            std::fprintf(log, " of which %d files are newer", c.not_processed_newer);
        }
        std::fputs("\n", log);
    }
    if (c.list_blank_lines != 0) {
        std::fprintf(log, "\n Skipped   %9d %s of the file list\n", c.list_blank_lines, blank_lines(c));
    }
    if (s.copy.no_dupe != 0) {
        std::fprintf(log, "\n Highest (number of duplicates) index number %d\n", c.highest_dupe_index);
    }
    if (c.sources_access_moved != 0) {
        std::fprintf(log, "\n Last access MOVED %7d sources\n", c.sources_access_moved);
    }
}

void write_last_access(std::FILE* stream, std::int64_t value) {
    std::fputs("  Last Access Date UPDATE is: ", stream);
    if (value == 0 || value == 0x80000000LL) {
        std::fputs("turned ON\n", stream);
        if (value == 0x80000000LL && paths::native_style == paths::Style::posix) {
            std::fputs(
                "  (relatime: the last-access time is written only when it is older than the last write "
                "or a day old)\n",
                stream);
        }
    } else if (value == 1) {
        std::fputs("turned ***** OFF *****\n", stream);
    } else if (value == -1) {
        std::fputs("\"Disable Access Date Key\" Not Found\nDefault (except VISTA) is usually RESET ACCESS DATE\n\n",
                   stream);
        std::fputs("To confirm setting check registry key:\n", stream);
        std::fputs("HKEY_LOCAL_MACHINE\nSYSTEM\\CurrentControlSet\\Control\\FileSystem\\NtfsDisableLastAccessUpdate\n",
                   stream);
        std::fputs("A 1 means access data will NOT be updated", stream);
    } else {
        std::fputs("\nerror in obtaining registry key\n", stdout);
    }
}

void close_hash_logs(Run& s) {
    if (s.files.hash_log == nullptr) {
        return;
    }
    const int mismatches = s.counters.hash_mismatches;
    if (mismatches != 0) {
        std::fprintf(s.files.hash_log, "\nAT LEAST %d HASHES DIDN'T MATCH\n", mismatches);
        platform::set_console_attribute(platform::StdStream::error, 12);
        std::fprintf(stderr, "\nAT LEAST %d HASHES DIDN'T MATCH", mismatches);
        platform::set_console_attribute(platform::StdStream::error, 158);
        std::fputs("\n", stderr);
    } else {
        // Nothing compared is no all-clear.
        const char* verdict = s.counters.files_hashed != 0 ? "\nNo apparent mismatches in the copied hashes\n"
                                                           : "\nNo files were hashed in this run\n";
        std::fputs(verdict, s.files.hash_log);
        std::fputs(verdict, stderr);
    }
    close_stream(s.files, s.files.hash_log, false);
    if (s.files.hash_error_log != nullptr && s.files.hash_rerun_log != nullptr) {
        close_stream(s.files, s.files.hash_error_log, false);
        close_stream(s.files, s.files.hash_rerun_log, false);
    }
}

}  // namespace

void start_run_clock(ProgressState& p) {
    if (p.start_time == 0) {
        const platform::WallInstant now = platform::now_instant();
        p.start_time = now.seconds;
        p.start_nanoseconds = now.nanoseconds;
    }
}

void stop_run_clock(ProgressState& p) {
    if (p.end_time == 0) {
        const platform::WallInstant now = platform::now_instant();
        p.end_time = now.seconds;
        p.end_nanoseconds = now.nanoseconds;
    }
}

std::int64_t elapsed_whole_seconds(const ProgressState& p) {
    // A clock set back during the run must not show a negative time.
    return p.end_time > p.start_time ? p.end_time - p.start_time : 0;
}

double elapsed_seconds(const ProgressState& p) {
    const double span = static_cast<double>(p.end_time - p.start_time) +
                        static_cast<double>(p.end_nanoseconds - p.start_nanoseconds) / 1e9;
    return span > 0 ? span : 0.0;
}

Elapsed split_elapsed(std::int64_t seconds) {
    return {static_cast<long>(seconds / 3600), static_cast<long>((seconds % 3600) / 60),
            static_cast<long>((seconds % 3600) % 60)};
}

std::string end_reason_text(const Run& s, int reason) {
    std::string text = exit_reason_text(reason);
    if (reason == WRITE_ERROR && s.counters.sources_changed != 0) {
        text += " (a source changed while it was copied)";
    }
    return text;
}

void write_console_summary(const Run& s, int reason, const Elapsed& e) {
    if (s.paths.dest_given == 0 || s.console.silent != 0) {
        return;
    }
    std::FILE* out = console(s);
    const RunCounters& c = s.counters;
    std::fprintf(out, "\n  Processed  %9d files. %12s bytes", c.files_processed,
                 util::with_separators(c.bytes_processed).c_str());
    std::fprintf(out, "\n  Copied     %9d files, %12s bytes: \n", c.files_copied,
                 util::with_separators(c.bytes_copied).c_str());
    std::fprintf(out, "  Updated: %d,    New: %d\n", c.files_updated, c.files_new);
    if (s.copy.ads_extract != 0) {
        std::fprintf(out, "  Copied ADS %9d files copied/extracted \n", c.ads_files_copied);
    }
    if (c.new_copies != 0) {
        std::fprintf(out, "    of which %9d %s\n", c.new_copies, c.new_copies == 1 ? "is a NEW file" : "are NEW files");
    }
    if (c.files_not_processed != 0) {
        std::fprintf(out, "  NOT processed %6d files", c.files_not_processed);
        if (c.not_processed_newer != 0) {
            std::fprintf(out, " of which %d files are newer", c.not_processed_newer);
        }
        std::fputs("\n", out);
    }
    if (c.list_blank_lines != 0) {
        std::fprintf(out, "  Skipped    %9d %s of the file list\n", c.list_blank_lines, blank_lines(c));
    }
    if (c.sources_access_moved != 0) {
        std::fprintf(out, "  Last access MOVED %d sources\n", c.sources_access_moved);
    }
    std::fputs("  Elapsed time:  ", out);
    std::fprintf(out, " %ld hrs. %ld mins. %ld secs.\n\n", e.hours, e.minutes, e.seconds);
    if (reason != 0) {
        std::fprintf(out, "\nAbnormal termination. Reason: %s\n\n", end_reason_text(s, reason).c_str());
    }
}

void write_error_file_totals(const Run& s) {
    if (!error_stream_is_file(s) || s.logs.error_file_given == 0) {
        return;
    }
    // What was copied, as the copied log and the other summaries count it:
    // a file that failed or did not verify is not in these figures.
    std::fprintf(s.files.error_stream, "\n  Processed %d files.   Copied %s bytes in %d files\n",
                 s.counters.files_processed, util::with_separators(s.counters.bytes_copied).c_str(),
                 s.counters.files_copied);
    std::fputs("************************************************************\n", s.files.error_stream);
}

void write_processed_line(const Run& s, const Elapsed& e) {
    if (s.console.silent != 0) {
        return;
    }
    std::fprintf(stdout, "\n  Processed %d files: ", s.counters.files_processed);
    std::fputs("   Elapsed time:  ", stdout);
    std::fprintf(stdout, " %ld hrs. %ld mins. %ld secs.\n\n", e.hours, e.minutes, e.seconds);
}

void write_default_log_summary(Run& s, int reason, std::int64_t end_time, const Elapsed& e) {
    std::FILE* log = default_log_for_summary(s);
    if (log == nullptr) {
        return;
    }
    write_default_log_totals(s, log);
    std::fprintf(log, "\n\n Finished %.24s\n", calendar_text(end_time).c_str());
    std::fputs(" Elapsed: ", log);
    std::fprintf(log, " %ld hrs. %ld mins. %ld secs.\n", e.hours, e.minutes, e.seconds);
    if (reason != 0) {
        std::fputs("\nABNORMAL TERMINATION\n", log);
    }
    if (!s.paths.source_paths.empty() && !platform::path_exists(s.paths.source_paths.front())) {
        const std::string root = paths::shown_path(s.paths.source_paths.front());
        std::fprintf(stderr, "\nCan't find drive %s, check connection\n", root.c_str());
        std::fprintf(log, "\nCan't find drive %s, check connection\n", root.c_str());
    }
    if (s.copy.ads_extract != 0) {
        std::fprintf(log, "\nIn addition:  Copied/extracted %9d ADS files to destination folder\n",
                     s.counters.ads_files_copied);
    }
    std::fputs("*****************************************************\n", log);
    (void)close_output(s.files, s.files.default_log, s.logs.default_log_path);  // said and kept there
}

void close_run_logs(Run& s, int reason, std::int64_t last_access) {
    OpenFiles& f = s.files;
    const bool error_is_file = error_stream_is_file(s);
    // A log that lost a write is said in the error file while it is open.
    write_output_faults_to(f, error_is_file ? f.error_stream : nullptr);
    check_every_output(f);
    close_stream(f, f.list_log, true);
    close_stream(f, f.copied_log, true);
    close_stream(f, f.not_copied_log, true);
    close_stream(f, f.dupes_log, true);
    if (error_is_file) {
        if (f.error_log == f.error_stream) {
            f.error_log = nullptr;  // one stream under two names
        }
        write_last_access(f.error_stream, last_access);
        std::fputs("\n", f.error_stream);
        (void)close_output(f, f.error_stream);  // said and kept there
    }
    close_stream(f, f.unicode_log, false);
    close_hash_logs(s);
    if (!error_is_file) {
        write_last_access(stderr, last_access);
    }
    if (reason != 0) {
        // The console's last line ends like every other.
        std::fprintf(stdout, "\n\nProgram Not completed %s\n", end_reason_text(s, reason).c_str());
    }
    // Streams that no closing text belongs to.
    close_stream(f, f.error_log, false);
    close_stream(f, f.dir_count_log, false);
    close_stream(f, f.unicode_list_stream, false);
    close_stream(f, f.memo_stream, false);
}

}  // namespace veldro::record
