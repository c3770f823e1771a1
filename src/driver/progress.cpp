#include "driver/progress.h"

#include <cstdio>
#include <string>

#include "driver/terminate.h"
#include "platform/fs.h"
#include "platform/live_status.h"
#include "platform/system.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/text.h"
#include "walk/walk.h"

namespace veldro::driver {

namespace {

// The destination's volume as the warning names it: the drive letter on
// Windows, the mount point of its file system on Linux.
std::string volume_name(const Run& s) {
    const std::string& dest = s.paths.dest_path;
    if (paths::native_style == paths::Style::windows) {
        const std::string_view shown = paths::display_path(dest);
        std::string letter = shown.empty() ? std::string("?") : std::string(1, shown[0]);
        return letter + ":";
    }
    return platform::file_system_root(dest);
}

void check_free_space(Run& s) {
    const auto free_bytes = platform::free_space(s.paths.dest_path);
    if (!free_bytes) {
        record::report_free_space_unknown();
        terminate_run(s, INPUT_FILE);
    }
    const auto needed = static_cast<std::uint64_t>(s.progress.bytes_to_process);
    if (needed <= *free_bytes) {
        return;
    }
    record::report_free_space_short(volume_name(s), *free_bytes, needed);
    platform::pause_seconds(10);
}

}  // namespace

void run_counting_pass(Run& s) {
    record::report_counting_started();
    s.progress.counting_pass = true;
    for (const std::string& root : s.paths.source_paths) {
        walk::walk_directory(s, paths::with_trailing_separator(root));
    }
    s.progress.counting_pass = false;
    s.progress.bytes_to_process_text = util::with_separators(s.progress.bytes_to_process);
    check_free_space(s);
    record::report_counting_totals(s);
    platform::publish_totals(s.progress.files_to_process, s.progress.bytes_to_process);
}

void begin_file_work(Run& s) {
    platform::show_status_line(!s.console.quiet);
    if (s.console.quiet && s.files.quiet_stream == nullptr) {
        s.files.quiet_stream = platform::open_null_stream();
        if (s.files.quiet_stream != nullptr) {
            s.files.unquiet_report_stream = s.files.report_stream;
            s.files.report_stream = s.files.quiet_stream;
        }
    }
}

void end_file_work(Run& s) {
    platform::show_status_line(false);
    if (s.files.quiet_stream != nullptr) {
        s.files.report_stream = s.files.unquiet_report_stream;
        // Nothing was written to the null device that a failed close could lose.
        static_cast<void>(std::fclose(s.files.quiet_stream));
        s.files.quiet_stream = nullptr;
        s.files.unquiet_report_stream = nullptr;
    }
}

}  // namespace veldro::driver
