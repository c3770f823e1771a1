#include "driver/run.h"

#include <cstdio>
#include <new>
#include <string>

#include "config/memo.h"
#include "config/options.h"
#include "config/usage.h"
#include "copy/destination.h"
#include "driver/banner.h"
#include "driver/pause.h"
#include "driver/progress.h"
#include "driver/settings.h"
#include "driver/terminate.h"
#include "driver/version.h"
#include "logs/log_set.h"
#include "logs/manifests.h"
#include "logs/report.h"
#include "logs/run_header.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/text.h"
#include "walk/list_mode.h"
#include "walk/sources.h"
#include "walk/walk.h"

namespace veldro::driver {

namespace {

// 1601-12-25 08:00:00 UTC as a file time: 358 days and 8 hours after the
// epoch of file times.
constexpr std::uint64_t zero_date_ticks = ((358ULL * 24ULL + 8ULL) * 3600ULL) * 10000000ULL;

void apply_defaults(RunSettings& s) {
    if (s.progress.start_time == 0) {
        s.progress.start_time = platform::now_seconds();
    }
    s.console.report_stream = stdout;
    s.logs.error_stream = stderr;
    s.progress.files_to_process = 0;
    s.progress.bytes_to_process = 0;
    s.console.name_width = 65;
    s.console.width_given = 15;
    s.selection.time_field = 'w';
    s.selection.recurse = 1;
    // RESET=ON... turns resetting on; OFF, other texts or no variable leave it off.
    s.copy.reset_times = 0;
    if (const auto reset = platform::get_environment("RESET")) {
        if (paths::starts_with_ignoring_case(*reset, "ON")) {
            s.copy.reset_times = 1;
        }
    }
    if (util::environment_contains("SILENT", "ON")) {
        s.console.silent = 1;
    }
    s.logs.error_file_given = 0;
}

// Creates the destination with every missing parent, reporting each
// directory made. It has no source directory whose dates it could carry,
// so -M does not date it.
std::error_code create_destination(RunSettings& s) {
    const int maintain = s.paths.maintain_dir_dates;
    s.paths.maintain_dir_dates = 0;
    const std::error_code error = copy::make_directory_path(s, paths::with_trailing_separator(s.paths.dest_path));
    s.paths.maintain_dir_dates = maintain;
    return error;
}

// A bare drive (F: or F:\) is taken as it is; F:\ is kept as F:.
bool accept_bare_drive(RunSettings& s) {
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

void ask_to_create_destination(RunSettings& s) {
    const std::string shown = paths::shown_path(s.paths.dest_path);
    for (;;) {
        std::fprintf(stdout, "\n\n%s Doesn't appear to exist.%c\n", shown.c_str(), 7);
        std::fputs("Should I create the directory [Y/N]", stdout);
        std::fflush(stdout);
        int key = platform::read_key();
        std::fputs("\n", stdout);
        check_interrupt();
        if (key < 0) {
            // Nobody can answer (end of input): refusing is the safe answer.
            key = 'N';
        }
        if (key >= 'a' && key <= 'z') {
            key = key - 'a' + 'A';
        }
        if (key == 'N' || key == 3 || key == 27) {
            terminate_run(USER_ABORTED);
        }
        if (key == 'Y') {
            break;
        }
    }
    if (const std::error_code error = create_destination(s)) {
        std::fprintf(stderr, "\nCan't create the destination directory %s (%s)\n", shown.c_str(),
                     platform::error_text(error).c_str());
        terminate_run(OUTPUT_FILE);
    }
}

void check_destination(RunSettings& s) {
    if (accept_bare_drive(s) || s.copy.list_only != 0) {
        return;
    }
    if (s.paths.dest_path.empty() || platform::is_directory(s.paths.dest_path)) {
        return;
    }
    if (s.paths.make_dirs != 0) {
        if (const std::error_code error = create_destination(s)) {
            std::fprintf(stderr, "\nCan't create the destination directory %s (%s)\n",
                         paths::shown_path(s.paths.dest_path).c_str(), platform::error_text(error).c_str());
            terminate_run(OUTPUT_FILE);
        }
        return;
    }
    ask_to_create_destination(s);
}

void show_ini_echo(RunSettings& s) {
    if (s.logs.ini_path.empty()) {
        return;
    }
    std::fprintf(stdout, "\n INI FILE USED: \"%s\" ", s.logs.ini_path.c_str());
    std::fprintf(stdout, "%s\n\n", s.logs.ini_echo.c_str());
    pause_seconds(2);
}

void walk_all_roots(RunSettings& s) {
    const std::string saved_dest = s.paths.dest_path;
    for (std::size_t i = 0; i < s.paths.source_paths.size(); ++i) {
        const std::string& root = s.paths.source_paths[i];
        if (s.paths.dirs_list_mode != 0) {
            // Each listed root lands below the destination under its own path.
            s.paths.dest_path = paths::without_trailing_separator(
                paths::join(saved_dest, paths::without_trailing_separator(paths::below_drive(root))));
        }
        s.paths.current_root_length =
            i < s.paths.source_root_lengths.size() ? s.paths.source_root_lengths[i] : root.size();
        walk::walk_directory(s, paths::with_trailing_separator(root));
    }
}

// The end every run reaches when nothing stopped it: the abort marker goes,
// and a run that left files uncopied says so through its status.
[[noreturn]] void finish_run(RunSettings& s) {
    LogSettings& logs = s.logs;
    if (!logs.default_log_path.empty() && logs.default_log == nullptr) {
        logs.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
    logs::remove_abort_marker(s);
    if (logs.dir_count_log != nullptr) {
        std::fclose(logs.dir_count_log);
        logs.dir_count_log = nullptr;
    }
    // A listed file that was not there is an input fault, and says so even
    // when other files also failed.
    if (s.counters.files_not_located != 0) {
        terminate_run(INPUT_FILE);
    }
    terminate_run(s.counters.copy_failures != 0 ? WRITE_ERROR : NORMAL_EXIT);
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

void memory_exhausted() {
    std::fputs("\nError obtaining memory\n", stderr);
    terminate_run(MEMORY_ERROR);
}

}  // namespace

void install_memory_handler() {
    std::set_new_handler(memory_exhausted);
}

namespace {

[[noreturn]] void run_phases(const std::vector<std::string>& args) {
    static RunSettings settings;
    RunSettings& s = settings;
    set_live_settings(&s);

    if (args.size() <= 1) {
        config::show_usage(0);
    }

    apply_defaults(s);
    config::parse_command_line(s, args);
    if (s.paths.list_file_mode == 0 && s.paths.source_paths.empty()) {
        walk::add_source_path(s, platform::current_directory());
    }
    if (s.paths.list_file_mode == 0 && s.copy.list_only == 0) {
        walk::refuse_overlapping_destination(s);
    }

    show_banner();
    platform::confine_writes_below(s.paths.dest_named);
    enable_privileges();
    check_destination(s);
    logs::write_run_header(s, args);
    logs::open_manifests(s, program_version_text());
    logs::open_report(s);
    config::write_memo_to_logs(s);

    if (s.paths.list_file_mode != 0) {
        walk::run_file_list(s);
        finish_run(s);
    }

    s.copy.zero_date_replacement = platform::FileTime{zero_date_ticks, 0};
    start_progress_clock(s);
    if (s.paths.dest_given != 0 && s.copy.immediate == 0) {
        run_counting_pass(s);
    }
    s.progress.counting_pass = 0;

    if (s.copy.reset_times != 0) {
        std::fputs(
            "\n\nFiletime Options RESET is ON.\n ALL filetimes (SOURCE and DESTINATION) will be reset to "
            "original values\n\n",
            stderr);
    }
    show_ini_echo(s);
    walk_all_roots(s);
    finish_run(s);
}

}  // namespace

int run_program(const std::vector<std::string>& args) {
    platform::prepare_console();
    platform::install_interrupt_handler();
    install_memory_handler();
    try {
        run_phases(args);
    } catch (const util::RunEnd& end) {
        // Whatever ended the run from below: the same end as if it had
        // called terminate_run where it stopped.
        if (!end.summary) {
            exit_without_summary(end.reason);
        }
        terminate_run(end.reason);
    }
}

}  // namespace veldro::driver
