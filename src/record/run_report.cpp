#include "record/run_report.h"

#include <cstdio>

#include "platform/fs.h"
#include "platform/system.h"
#include "record/output_faults.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::record {

namespace {

// The module name and the hint the stream listing's failures give.
constexpr const char* listing_module = ".\\dmp_fun_veldro";
constexpr const char* rerun_hint = "\nTry using the -S option and rerun program\n\n";

std::FILE* console(const Run& s) {
    return s.files.report_stream != nullptr ? s.files.report_stream : stdout;
}

// The default log is closed between the phases that write to it: opens it
// again for appending when the run has one.
std::FILE* reopened_default_log(Run& s) {
    if (s.files.default_log == nullptr && !s.logs.default_log_path.empty()) {
        s.files.default_log = platform::open_stream(s.logs.default_log_path, "a+");
    }
    return s.files.default_log;
}

// The event of a line the walk's thread met, recorded in its turn with the
// files in flight; null when there are none, and the line is written now.
PlanEvent* event_in_flight(const Run& s, PlanEvent::Kind kind) {
    return s.in_flight != nullptr ? &s.in_flight->add_event(kind) : nullptr;
}

}  // namespace

// ---- the walk ----------------------------------------------------------

void report_counting_started() {
    std::fputs("Counting files: ", stderr);
}

void report_counting_progress(std::int32_t files_counted) {
    if (files_counted % 1000 == 0) {
        std::fprintf(stderr, "%7ld\b\b\b\b\b\b\b", static_cast<long>(files_counted));
    }
}

void report_counting_totals(Run& s) {
    std::fprintf(stderr, "\r %ld files to process, %s\n\n", static_cast<long>(s.progress.files_to_process),
                 s.progress.bytes_to_process_text.c_str());
    if (s.logs.default_log_path.empty()) {
        return;
    }
    std::FILE* log = reopened_default_log(s);
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "\nCount Files indicates: %ld files to process, approx %s bytes\n",
                 static_cast<long>(s.progress.files_to_process), s.progress.bytes_to_process_text.c_str());
    (void)close_output(s.files, s.files.default_log, s.logs.default_log_path);  // said and kept there
}

void warn_moving_access_times(Run& s) {
    if (s.copy.list_only != ListOnly::off) {
        return;
    }
    bool kept = true;
    for (const std::string& root : s.paths.source_paths) {
        kept = kept && platform::access_times_kept_for_any_owner(root);
    }
    // A file list names its files only as it is read: the account decides.
    if (s.paths.list_file_mode != 0 && s.paths.source_paths.empty()) {
        kept = platform::access_times_kept_for_any_owner(std::string());
    }
    if (kept) {
        return;
    }
    constexpr const char* warning =
        "the last-access times of files you do not own will move: run as root, or mount the source read-only "
        "with noatime";
    std::fprintf(stderr, "\n%s\n", warning);
    if (std::FILE* log = reopened_default_log(s); log != nullptr) {
        std::fprintf(log, "\n%s\n", warning);
    }
}

void report_free_space_unknown() {
    std::fputs("can't get disk free space\n", stderr);
}

void report_free_space_short(const std::string& volume, std::uint64_t free_bytes, std::uint64_t needed) {
    std::fprintf(stdout, "\nFree space on %s is    %12lld\nSize for full copy is  %12lld\n", volume.c_str(),
                 static_cast<long long>(free_bytes), static_cast<long long>(needed));
    std::fputs("\nYou may not have enough free space. Pausing 10 seconds.\n", stdout);
}

void count_processed_file(Run& s) {
    ++s.counters.files_processed;
}

void report_unreadable_directory(Run& s, const std::string& dir_path, const std::error_code& error) {
    if (PlanEvent* event = event_in_flight(s, PlanEvent::Kind::directory_unreadable)) {
        event->path = dir_path;
        event->error = error;
        return;
    }
    write_unreadable_directory(s, dir_path, error);
}

void write_unreadable_directory(Run& s, const std::string& dir_path, const std::error_code& error) {
    const std::string shown = paths::shown_path(paths::without_trailing_separator(dir_path));
    const std::string reason = platform::error_text(error);
    std::fprintf(stdout, "\nERROR: %s | DIRECTORY NOT READ, NOTHING BELOW IT COPIED (%s)\n", shown.c_str(),
                 reason.c_str());
    if (s.files.error_stream != nullptr && s.files.error_stream != stderr) {
        std::fprintf(s.files.error_stream, "\n%s | DIRECTORY NOT READ (%s)", shown.c_str(), reason.c_str());
    }
    if (s.files.not_copied_log != nullptr) {
        std::fprintf(s.files.not_copied_log, "\n%s| Not Copied: Reason: Directory could not be read (%s)",
                     shown.c_str(), reason.c_str());
    }
    ++s.counters.files_not_processed;
    ++s.counters.copy_failures;
}

void report_directory_count(Run& s) {
    if (s.files.dir_count_log == nullptr) {
        return;
    }
    // Its count is known once the files before it are recorded.
    if (event_in_flight(s, PlanEvent::Kind::directory_counted) == nullptr) {
        write_directory_count(s);
    }
}

void write_directory_count(Run& s) {
    EngineState& e = s.engine;
    if (s.files.dir_count_log == nullptr || e.dir_copied_count == 0 || e.last_source_dir == e.last_counted_dir) {
        return;
    }
    std::fprintf(s.files.dir_count_log, "\n%6ld   %s", static_cast<long>(e.dir_copied_count),
                 paths::shown_path(e.last_source_dir).c_str());
    e.last_counted_dir = e.last_source_dir;
}

void note_recorded_directory(Run& s, std::string_view directory) {
    EngineState& e = s.engine;
    if (directory != e.last_source_dir) {
        e.last_source_dir.assign(directory);
        e.dir_copied_count = 0;
    }
}

void report_bypassed_directory(Run& s, const std::string& directory) {
    if (PlanEvent* event = event_in_flight(s, PlanEvent::Kind::directory_bypassed)) {
        event->path = directory;
        return;
    }
    write_bypassed_directory(s, directory);
}

void write_bypassed_directory(Run& s, const std::string& directory) {
    const std::string shown(paths::display_path(paths::without_trailing_separator(directory)));
    std::fprintf(console(s), "\nBYPASSED DIRECTORY: %s\n", shown.c_str());
    if (std::FILE* log = reopened_default_log(s); log != nullptr) {
        std::fprintf(log, "\nBYPASSED DIRECTORY: %s\n", shown.c_str());
    }
}

void report_leftover_temporary(Run& s, const std::string& path, LeftoverFate fate, const std::error_code& error) {
    const std::string shown = paths::shown_path(path);
    std::string what;
    switch (fate) {
        case LeftoverFate::removed:
            what = "TEMPORARY FILE OF AN ENDED RUN REMOVED";
            break;
        case LeftoverFate::kept:
            what = "TEMPORARY FILE OF A RUN STILL GOING KEPT";
            break;
        case LeftoverFate::not_removed:
            what = "TEMPORARY FILE OF AN ENDED RUN NOT REMOVED (" + platform::error_text(error) + ")";
            break;
    }
    std::fprintf(console(s), "\n%s | %s\n", shown.c_str(), what.c_str());
    if (s.files.error_stream != nullptr && s.files.error_stream != stderr) {
        std::fprintf(s.files.error_stream, "\n%s | %s", shown.c_str(), what.c_str());
    }
}

// ---- the sources -------------------------------------------------------

void report_file_as_root(const std::string& name, const std::string& directory) {
    const std::string shown_name = util::shown_name(name);
    std::fprintf(stdout, "\n%s appears to be a file, not a folder.", shown_name.c_str());
    std::fputs("\nwill make the following adjustments\n", stdout);
    std::fprintf(stdout, "source directory=%s\n", paths::shown_path(directory).c_str());
    std::fprintf(stdout, "new file added=%s\n", shown_name.c_str());
}

void report_missing_source(const std::string& root) {
    std::fprintf(stdout, "\nCan't find a file or folder of the name %s\n", paths::shown_path(root).c_str());
    std::fputs("Please check the -p option and rerun program\n", stdout);
}

void report_overlapping_destination(const std::string& destination, const char* relation, const std::string& root) {
    std::fprintf(stdout, "\n\nThe destination %s %s %s\n", paths::shown_path(destination).c_str(), relation,
                 paths::shown_path(root).c_str());
    std::fputs(
        "Copying would write over the evidence or into it: please choose a destination outside the "
        "sources and rerun\n\n",
        stdout);
}

// ---- the destination ---------------------------------------------------

void report_directory_created(const Run& s, const std::string& dir) {
    write_directory_created(s, dir);
}

void write_directory_created(const Run& s, const std::string& dir) {
    std::fprintf(console(s), "\n Directory %s created\n\n", paths::shown_path(dir).c_str());
}

int ask_create_destination(const std::string& shown_destination) {
    std::fprintf(stdout, "\n\n%s Doesn't appear to exist.%c\n", shown_destination.c_str(), 7);
    std::fputs("Should I create the directory [Y/N]", stdout);
    std::fflush(stdout);
    const int key = platform::read_key();
    std::fputs("\n", stdout);
    return key;
}

void write_tilde_rename(const Run& s, const std::string& old_path, const std::string& new_path) {
    const std::string old_shown = paths::shown_path(old_path);
    const std::string new_shown = paths::shown_path(new_path);
    if (s.files.dupes_log != nullptr) {
        std::fprintf(s.files.dupes_log, "\n%s |RENAMED TO:| %s\n", old_shown.c_str(), new_shown.c_str());
    }
    std::fprintf(console(s), "\n\nDUPE_FILE: %s ==>   %s\n", old_shown.c_str(), new_shown.c_str());
}

void note_dupe_index(Run& s, std::int32_t index) {
    s.counters.highest_dupe_index = index;
}

// ---- named streams -----------------------------------------------------

void report_stream_privilege_failure(int line, const char* what) {
    std::printf("\n%d %s %s", line, listing_module, what);
    std::fputs(rerun_hint, stdout);
    std::fflush(stdout);
}

int ask_after_stream_read_error(const Run& s) {
    // A question: what the user reads above it is complete, every file in
    // flight recorded, before the answer is waited for.
    settle_work_in_flight(s);
    std::FILE* out = console(s);
    std::fprintf(out, "\nLine: %d Source File: %s Has encountered an Alt Data Stream Read error", 98, listing_module);
    std::fputs("\n\nIf you want me to continue press 'Y' else anyting else aborts", out);
    std::fputs("\nIf you press Y, the -S, \"no alternate data stream option\" will be installed\n", out);
    std::fputs("Enter Y or anything els now ", out);
    std::fflush(out);
    return platform::read_key();
}

void report_stream_question_refused(const Run& s) {
    // Right below the question, which has had every file in flight recorded.
    std::fputs("\n", console(s));
}

void write_stream_error_ignored(const Run& s) {
    std::fputs("\n", console(s));
}

void write_stream_name_unreadable(const Run& s) {
    std::fprintf(console(s), "\n%d", 160);
}

void report_list_line_left_out(Run& s, int number, const std::string& what) {
    if (PlanEvent* event = event_in_flight(s, PlanEvent::Kind::list_line_left_out)) {
        event->number = number;
        event->path = what;
        return;
    }
    util::write_line_left_out(number, what);
}

// ---- digests -----------------------------------------------------------

void report_digest_buffer_failure() {
    std::fprintf(stderr, "\n%s\n%d\nCouldn't create MD5 hash input buffer\n", ".\\Md5func_u", 93);
}

namespace {

// A stream header could not be read. Asks once per run whether to go on;
// 'Y' (upper case only) ignores this and every later read error; any
// other answer ends the run.
void ask_after_read_error(Run& s) {
    if (ask_after_stream_read_error(s) != 'Y') {
        // The run ends as an abort, with its summary and its logs closed.
        report_stream_question_refused(s);
        throw util::RunEnd{USER_ABORTED};
    }
    s.streams.ads_errors_ignored = true;
}

}  // namespace

int count_after_listing(Run& s, platform::StreamListStatus status, std::size_t listed, ListingSeenBy seen_by) {
    // The planner's lines are events of the file it decides; the recorder
    // stands in the file's place and writes them.
    const auto tell = [&s, seen_by](PlanEvent::Kind kind, void (*write)(const Run&)) {
        if (seen_by == ListingSeenBy::recorder || event_in_flight(s, kind) == nullptr) {
            write(s);
        }
    };
    StreamState& streams = s.streams;
    std::size_t count = listed;
    streams.open_failed = status == platform::StreamListStatus::open_failed;
    switch (status) {
        case platform::StreamListStatus::complete:
            break;
        case platform::StreamListStatus::open_failed:
        case platform::StreamListStatus::unsupported:
            count = 0;
            break;
        case platform::StreamListStatus::header_read_failed:
            if (streams.ads_errors_ignored != 0) {
                tell(PlanEvent::Kind::stream_error_ignored, write_stream_error_ignored);
            } else {
                ask_after_read_error(s);
                count = 0;
            }
            break;
        case platform::StreamListStatus::name_read_failed:
            tell(PlanEvent::Kind::stream_name_unreadable, write_stream_name_unreadable);
            break;
    }
    streams.stream_count = count;
    return static_cast<int>(count);
}

}  // namespace veldro::record
