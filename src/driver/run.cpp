#include "driver/run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "config/banner.h"
#include "config/memo.h"
#include "config/options.h"
#include "config/usage.h"
#include "driver/progress.h"
#include "driver/terminate.h"
#include "engine/file_flow.h"
#include "hash/file_digest.h"
#include "plan/destination.h"
#include "platform/fs.h"
#include "platform/live_status.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "record/log_set.h"
#include "record/manifests.h"
#include "record/output_faults.h"
#include "record/report.h"
#include "record/run_header.h"
#include "record/run_report.h"
#include "record/summary.h"
#include "record/throughput.h"
#include "run/run.h"
#include "util/paths.h"
#include "util/text.h"
#include "util/version.h"
#include "verify/verify_run.h"
#include "walk/list_mode.h"
#include "walk/sources.h"
#include "walk/walk.h"

namespace veldro::driver {

namespace {

// The run's clock and its standard streams, before any option is read (the
// options' defaults are in the Options record; config reads the environment).
void start_run_state(RunState& s) {
    record::start_run_clock(s.progress);
    s.files.report_stream = stdout;
    s.files.error_stream = stderr;
}

// Creates the destination with every missing parent, reporting each
// directory made. It has no source directory whose dates it could carry,
// so -M does not date it.
std::error_code create_destination(Run& s) {
    return plan::make_directory_path(s, paths::with_trailing_separator(s.paths.dest_path), false);
}

// A bare drive (F: or F:\) is taken as it is; F:\ is kept as F:.
bool accept_bare_drive(OptionTarget& s) {
    if (paths::native_style != paths::Style::windows) {
        return false;
    }
    std::string shown(paths::display_path(s.paths.dest_path));
    if (shown.size() == 3 && shown[1] == ':' && shown[2] == '\\') {
        s.paths.dest_path.pop_back();
        return true;
    }
    return shown.size() == 2 && shown[1] == ':';
}

void ask_to_create_destination(Run& s) {
    const std::string shown = paths::shown_path(s.paths.dest_path);
    for (;;) {
        int key = record::ask_create_destination(shown);
        check_interrupt();
        if (key < 0) {
            // Nobody can answer (end of input): refusing is the safe answer.
            key = 'N';
        }
        if (key >= 'a' && key <= 'z') {
            key = key - 'a' + 'A';
        }
        if (key == 'N' || key == 3 || key == 27) {
            terminate_run(s, USER_ABORTED);
        }
        if (key == 'Y') {
            break;
        }
    }
    if (const std::error_code error = create_destination(s)) {
        std::fprintf(stderr, "\nCan't create the destination directory %s (%s)\n", shown.c_str(),
                     platform::error_text(error).c_str());
        terminate_run(s, OUTPUT_FILE);
    }
}

void check_destination(Run& s) {
    if (s.copy.list_only != ListOnly::off) {
        return;
    }
    if (s.paths.dest_path.empty() || platform::is_directory(s.paths.dest_path)) {
        return;
    }
    if (s.paths.make_dirs != 0) {
        if (const std::error_code error = create_destination(s)) {
            std::fprintf(stderr, "\nCan't create the destination directory %s (%s)\n",
                         paths::shown_path(s.paths.dest_path).c_str(), platform::error_text(error).c_str());
            terminate_run(s, OUTPUT_FILE);
        }
        return;
    }
    ask_to_create_destination(s);
}

void show_ini_echo(Run& s) {
    if (s.logs.ini_path.empty()) {
        return;
    }
    std::fprintf(stdout, "\n INI FILE USED: \"%s\" ", s.logs.ini_path.c_str());
    std::fprintf(stdout, "%s\n\n", s.logs.ini_echo.c_str());
    platform::pause_seconds(2);
}

void walk_all_roots(Run& s) {
    for (std::size_t i = 0; i < s.paths.source_paths.size(); ++i) {
        const std::string& root = s.paths.source_paths[i];
        if (s.paths.dirs_list_mode != 0) {
            // Each listed root lands below the destination under its own path.
            s.engine.dest_root = paths::without_trailing_separator(
                paths::join(s.paths.dest_path, paths::without_trailing_separator(paths::below_drive(root))));
        }
        s.engine.current_root_length =
            i < s.paths.source_root_lengths.size() ? s.paths.source_root_lengths[i] : root.size();
        walk::walk_directory(s, paths::with_trailing_separator(root));
    }
}

// The walk, with the data work of files on worker threads when the run has
// more than one; with one, the same flow does the work on this thread.
void walk_with_workers(Run& s) {
    engine::FileFlow flow(s, std::min(s.options.threads, platform::worker_thread_limit()));
    s.walk_flow = &flow;
    with_work_in_flight(s, flow, [&s] { walk_all_roots(s); });
}

// The end every run reaches when nothing stopped it: the abort marker goes,
// and a run that left files uncopied says so through its status.
[[noreturn]] void finish_run(Run& s) {
    const LogOptions& logs = s.logs;
    if (!logs.default_log_path.empty() && s.files.default_log == nullptr) {
        s.files.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
    record::remove_abort_marker(s);
    (void)record::close_output(s.files, s.files.dir_count_log);  // a failure is said and kept there
    // A listed file that was not there is an input fault, and says so even
    // when other files also failed.
    if (s.counters.files_not_located != 0) {
        terminate_run(s, INPUT_FILE);
    }
    terminate_run(s, s.counters.copy_failures != 0 ? WRITE_ERROR : NORMAL_EXIT);
}

// The backup and restore privileges, where the account holds them, let
// every road read protected files and folders and write their copies.
void enable_privileges() {
    if (platform::enable_backup_privileges() == platform::PrivilegeStatus::not_held) {
        std::fputs(
            "\nThe backup and restore privileges are not held: files and folders this account may not read "
            "are not copied\n",
            stderr);
    }
}

// What the options ask for once the files they name are open.
void complete_options(OwnedRun& r) {
    if (r.files.error_stream == nullptr) {
        r.files.error_stream = stderr;
    }
    if (r.logs.memo && r.files.memo_stream != nullptr) {
        config::take_memo(r.options.logs, r.files.memo_stream);
    }
    record::write_tilde_note(r.files, r.copy.check_tilde);
    // A check of earlier copies names no source and writes no copy.
    if (r.logs.verify_record_path.empty()) {
        config::check_required_options(r.options);
        record::create_abort_marker(r.run);
    }
}

// --VERIFY: the earlier run's copies checked against its record, and the
// run ends with the check's status.
[[noreturn]] void verify_earlier_copies(const Run& s) {
    config::show_banner();
    const int status = verify::verify_copies(s);
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);  // NOLINT(concurrency-mt-unsafe): the workers have ended
}

// Memory exhausted, on whichever thread asked for it: the allocation fails
// with an end of the run that the thread hands on like any other (a worker
// to the recording thread, which records the files in flight first).
struct MemoryExhausted final : std::bad_alloc, util::RunEnd {
    MemoryExhausted() : util::RunEnd{MEMORY_ERROR} {}
};

void memory_exhausted() {
    throw MemoryExhausted();
}

}  // namespace

void install_memory_handler() {
    std::set_new_handler(memory_exhausted);
}

namespace {

int read_and_complete_options(OwnedRun& r, const std::vector<std::string>& args) {
    int result = 0;
    try {
        result = config::parse_command_line(r.target, args);
    } catch (const config::OptionStop& stop) {
        // The files named before the stop are opened first, as they were
        // when each was opened where it was named: one that cannot be
        // opened ends the run with its own reason, before the stop's.
        record::open_named_files(r.options, r.files);
        config::say(stop);
    } catch (const util::RunEnd&) {
        record::open_named_files(r.options, r.files);
        throw;
    }
    record::open_named_files(r.options, r.files);
    complete_options(r);
    return result;
}

}  // namespace

int read_options(OwnedRun& r, const std::vector<std::string>& args) {
    try {
        return read_and_complete_options(r, args);
    } catch (const util::RunEnd& end) {
        // A refused command line ran nothing: its message and the reason,
        // without a summary of zeros.
        if (end.reason == ILLEGAL_OPTION && end.summary) {
            std::fprintf(stdout, "\n\nProgram Not completed %s\n", exit_reason_text(ILLEGAL_OPTION));
            throw util::RunEnd{ILLEGAL_OPTION, false};
        }
        throw;
    }
}

namespace {

[[noreturn]] void run_phases(OwnedRun& owned, const std::vector<std::string>& args) {
    // The options are filled in here and then only read: below this
    // function every module sees them through the run, as const.
    Run& s = owned.run;
    OptionTarget& target = owned.target;

    if (args.size() <= 1) {
        config::show_usage(0);
    }

    start_run_state(s);
    read_options(owned, args);
    if (!s.logs.verify_record_path.empty()) {
        record::set_command_line(target, args);
        verify_earlier_copies(s);
    }
    if (s.paths.list_file_mode == 0 && s.paths.source_paths.empty()) {
        walk::add_source_path(target, platform::current_directory());
    }
    record::set_command_line(target, args);
    if (s.paths.list_file_mode == 0 && s.copy.list_only == ListOnly::off) {
        walk::refuse_overlapping_destination(s);
    }

    config::show_banner();
    platform::confine_writes_below(s.paths.dest_named);
    enable_privileges();
    if (!accept_bare_drive(target)) {
        check_destination(s);
    }
    record::write_run_header(s);
    record::open_manifests(s, util::program_version_text());
    record::open_report(s);
    record::create_seal_file(s);
    config::write_memo_to_logs(s.logs, s.files);
    record::warn_moving_access_times(s);

    if (s.paths.list_file_mode != 0) {
        begin_file_work(s);
        walk::run_file_list(s);
        finish_run(s);
    }

    record::start_progress_clock(s);
    if (s.paths.dest_given != 0 && s.copy.immediate == 0) {
        run_counting_pass(s);
    }
    s.progress.counting_pass = false;

    if (s.copy.reset_times != 0) {
        std::fputs(
            "\n\nFiletime Options RESET is ON.\n ALL filetimes (SOURCE and DESTINATION) will be reset to "
            "original values\n\n",
            stderr);
    }
    show_ini_echo(s);
    begin_file_work(s);
    walk_with_workers(s);
    finish_run(s);
}

}  // namespace

int run_program(const std::vector<std::string>& args) {
    platform::prepare_console();
    platform::raise_open_file_limit();
    platform::install_interrupt_handler();
    platform::start_console_thread(platform::live_status_line);
    install_memory_handler();
    // The run outlives its phases: an end thrown from them is written
    // from it.
    OwnedRun owned;
    try {
        run_phases(owned, args);
    } catch (const util::RunEnd& end) {
        // Whatever ended the run from below: the same end as if it had
        // called terminate_run where it stopped.
        if (end.reason == MEMORY_ERROR) {
            std::fputs("\nError obtaining memory\n", stderr);
        }
        try {
            if (!end.summary) {
                exit_without_summary(owned.run, end.reason);
            }
            terminate_run(owned.run, end.reason);
        } catch (const util::RunEnd& again) {
            // Memory exhausted while the summary is written: what is
            // written stays, and the run leaves with its reason.
            std::fflush(nullptr);
            platform::stop_console_thread();
            std::_Exit(again.reason);
        }
    }
}

}  // namespace veldro::driver
