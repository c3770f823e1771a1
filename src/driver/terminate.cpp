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

Run* g_live = nullptr;

}  // namespace

Run& live_run() {
    if (g_live == nullptr) {
        // Before the driver has made its run (unit tests, early exits)
        // there is still one to report on.
        static const Options fallback_options;
        static Run fallback(fallback_options);
        g_live = &fallback;
    }
    return *g_live;
}

void set_live_run(Run* run) {
    g_live = run;
}

namespace {

// The manifests get their closing lines; with --SEAL the seal follows,
// once everything the run wrote is on disk.
void close_manifests_and_seal(const Run& s) {
    record::close_manifests();
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

void terminate_run(int reason) {
    static bool terminating = false;
    if (terminating) {
        // A second request while the summary is being written: the first
        // one finishes the job.
        std::fflush(nullptr);
        platform::stop_console_thread();
        std::_Exit(reason);
    }
    terminating = true;

    Run& s = live_run();
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
    record::write_report(s, record::status_with_output_faults(reason), true);
    (void)driver::flush_outputs_to_drives(s, false);  // a failure is named on the console; the status is out
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(record::status_with_output_faults(reason));  // NOLINT(concurrency-mt-unsafe): the only way out of a run
}

void exit_without_summary(int status) {
    record::stop_run_clock(live_run().progress);
    close_manifests_and_seal(live_run());
    record::write_report(live_run(), record::status_with_output_faults(status), false);
    (void)driver::flush_outputs_to_drives(live_run(), false);  // a failure is named on the console
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(record::status_with_output_faults(status));  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace veldro
