#include "driver/progress.h"

#include <cstdio>
#include <string>

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
    platform::pause_seconds(10);
}

void note_count_in_default_log(Run& s) {
    const LogOptions& logs = s.logs;
    if (logs.default_log_path.empty()) {
        return;
    }
    if (s.files.default_log == nullptr) {
        s.files.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
    if (s.files.default_log == nullptr) {
        return;
    }
    std::fprintf(s.files.default_log, "\nCount Files indicates: %ld files to process, approx %s bytes\n",
                 static_cast<long>(s.progress.files_to_process), s.progress.bytes_to_process_text.c_str());
    std::fclose(s.files.default_log);
    s.files.default_log = nullptr;
}

}  // namespace

void run_counting_pass(Run& s) {
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

}  // namespace veldro::driver
