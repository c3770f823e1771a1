#include "driver/terminate.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/flush.h"
#include "driver/progress.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "record/manifests.h"
#include "record/output_faults.h"
#include "record/report.h"
#include "record/summary.h"
#include "run/run.h"

namespace veldro {

namespace {

// The manifests get their closing lines; with --SEAL the seal follows,
// once everything the run wrote is on disk.
void close_manifests_and_seal(Run& s) {
    record::close_manifests(s.files);
    if (s.logs.seal != 0) {
        std::fflush(nullptr);
        record::seal_written_files(s);
    }
}

// The place the first source lives, for the last-access setting.
std::string first_source_or_cwd(const Run& s) {
    if (!s.paths.source_paths.empty()) {
        return s.paths.source_paths.front();
    }
    return platform::current_directory();
}

}  // namespace

void terminate_run(Run& s, int reason) {
    if (s.ending) {
        // A second request while the summary is being written: the first
        // one finishes the job.
        std::fflush(nullptr);
        platform::stop_console_thread();
        std::_Exit(reason);
    }
    s.ending = true;

    driver::end_file_work(s);
    const std::int64_t last_access = platform::last_access_setting(first_source_or_cwd(s));
    record::stop_run_clock(s.progress);
    const std::int64_t end_time = s.progress.end_time;
    const record::Elapsed elapsed = record::split_elapsed(record::elapsed_whole_seconds(s.progress));

    // The copies and the logs so far reach their drives before the summary
    // says the run is over; what the summaries add is flushed at the end.
    if (!driver::flush_outputs_to_drives(s, true) && reason == NORMAL_EXIT) {
        reason = WRITE_ERROR;
    }
    record::write_console_summary(s, reason, elapsed);
    record::write_error_file_totals(s);
    record::write_processed_line(s, elapsed);
    record::write_default_log_summary(s, reason, end_time, elapsed);
    record::close_run_logs(s, reason, last_access);
    close_manifests_and_seal(s);
    // A log, manifest or seal not written whole fails the run.
    record::write_report(s, record::status_with_output_faults(s.files, reason), true);
    (void)driver::flush_outputs_to_drives(s, false);  // a failure is named on the console; the status is out
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(record::status_with_output_faults(s.files,
                                                reason));  // NOLINT(concurrency-mt-unsafe): the only way out of a run
}

void exit_without_summary(Run& s, int status) {
    record::stop_run_clock(s.progress);
    close_manifests_and_seal(s);
    record::write_report(s, record::status_with_output_faults(s.files, status), false);
    (void)driver::flush_outputs_to_drives(s, false);  // a failure is named on the console
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(record::status_with_output_faults(s.files, status));  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace veldro
