#include "driver/progress.h"

#include <cstdio>
#include <string>

#include "driver/pause.h"
#include "driver/terminate.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/text.h"
#include "walk/walk.h"

namespace veldro::driver {

namespace {

// The destination's volume as the warning names it: the drive letter on
// Windows, the mount point of its file system on Linux.
std::string volume_name(const RunSettings& s) {
    const std::string& dest = s.paths.dest_path;
    if (paths::native_style == paths::Style::windows) {
        const std::string_view shown = paths::display_path(dest);
        std::string letter = shown.empty() ? std::string("?") : std::string(1, shown[0]);
        return letter + ":";
    }
    return platform::file_system_root(dest);
}

void check_free_space(RunSettings& s) {
    const auto free_bytes = platform::free_space(s.paths.dest_path);
    if (!free_bytes) {
        std::fputs("can't get disk free space\n", stderr);
        terminate_run(INPUT_FILE);
    }
    const auto needed = static_cast<std::uint64_t>(s.progress.bytes_to_process);
    if (needed <= *free_bytes) {
        return;
    }
    std::fprintf(stdout, "\nFree space on %s is    %12lld\nSize for full copy is  %12lld\n", volume_name(s).c_str(),
                 static_cast<long long>(*free_bytes), static_cast<long long>(needed));
    std::fputs("\nYou may not have enough free space. Pausing 10 seconds.\n", stdout);
    pause_seconds(10);
}

void note_count_in_default_log(RunSettings& s) {
    LogSettings& logs = s.logs;
    if (logs.default_log_path.empty()) {
        return;
    }
    if (logs.default_log == nullptr) {
        logs.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
    if (logs.default_log == nullptr) {
        return;
    }
    std::fprintf(logs.default_log, "\nCount Files indicates: %ld files to process, approx %s bytes\n",
                 static_cast<long>(s.progress.files_to_process), s.progress.bytes_to_process_text.c_str());
    std::fclose(logs.default_log);
    logs.default_log = nullptr;
}

}  // namespace

void start_progress_clock(RunSettings& s) {
    s.progress.progress_start = platform::now_seconds();
}

void run_counting_pass(RunSettings& s) {
    std::fputs("Counting files: ", stderr);
    s.progress.counting_pass = 1;
    for (const std::string& root : s.paths.source_paths) {
        walk::walk_directory(s, paths::with_trailing_separator(root));
    }
    s.progress.counting_pass = 0;
    s.progress.bytes_to_process_text = util::with_separators(s.progress.bytes_to_process);
    check_free_space(s);
    std::fprintf(stderr, "\r %ld files to process, %s\n\n", static_cast<long>(s.progress.files_to_process),
                 s.progress.bytes_to_process_text.c_str());
    note_count_in_default_log(s);
}

void show_throughput(RunSettings& s, std::int64_t total_bytes, std::int64_t done_bytes) {
    const std::int64_t now = platform::now_seconds();
    if (total_bytes != 0) {
        const double elapsed = static_cast<double>(now - s.progress.progress_start);
        const double since_start = static_cast<double>(now - s.progress.start_time);
        const double done = static_cast<double>(done_bytes);
        const double rate = since_start > 0 ? done / since_start / 1000000.0 * 60.0 : 0.0;
        const double fraction = done / static_cast<double>(total_bytes);
        const double remaining_real = fraction > 0 ? elapsed / fraction - elapsed : 0.0;
        const auto remaining = remaining_real > 0 ? static_cast<long long>(remaining_real) : 0LL;
        std::fprintf(stdout, "\n\n\n%.0f meg/min  %2d hrs. %2d mins. %2d secs remaining\n\n\n", rate,
                     static_cast<int>(remaining / 3600), static_cast<int>((remaining % 3600) / 60),
                     static_cast<int>((remaining % 3600) % 60));
        if (s.counters.hash_mismatches != 0) {
            platform::set_console_attribute(platform::StdStream::output, 12);
            std::fprintf(stdout, "\nAt least %d hash errors so far\n", static_cast<int>(s.counters.hash_mismatches));
            platform::set_console_attribute(platform::StdStream::output, 158);
        }
        return;
    }
    const std::int64_t minutes = (now - s.progress.progress_start) / 60;
    if (minutes == 0) {
        return;
    }
    const std::int64_t rate = done_bytes / minutes / 1000000;
    std::fprintf(stdout, "\n\n\n%.0f meg/min \n\n\n", static_cast<double>(rate));
}

}  // namespace veldro::driver
