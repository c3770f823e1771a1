// The run's summaries: the totals on the console, in the default log and in
// the error file, the abort texts, the hash log's verdict, the last-access
// setting, and the closing text of every log. The driver's end of a run
// calls them in the order they are declared here.
#pragma once

#include <cstdint>
#include <string>

#include "run/run.h"

namespace veldro::record {

struct Elapsed {
    long hours = 0;
    long minutes = 0;
    long seconds = 0;
};

// The run's clock. The start is read once when the run begins and the end
// once when it ends (a second call of either changes nothing): the headers,
// the summaries, the report and the manifests all show these two readings.
void start_run_clock(ProgressState& p);
void stop_run_clock(ProgressState& p);
// From start to end in whole calendar seconds, as the logs show it (the
// finish time less the start time; never negative).
std::int64_t elapsed_whole_seconds(const ProgressState& p);
// The same span to the fraction of a second.
double elapsed_seconds(const ProgressState& p);

// Whole seconds as hours, minutes and seconds.
Elapsed split_elapsed(std::int64_t seconds);

// The reason's text, and for a failed run with a copy whose source changed
// while it was copied, that cause after it.
std::string end_reason_text(const Run& s, int reason);

// The console's totals (when a destination was given and the console is
// not silent), with the reason of an abnormal end.
void write_console_summary(const Run& s, int reason, const Elapsed& elapsed);

// The totals line of the -E error file (when the error stream is a file).
void write_error_file_totals(const Run& s);

// The last line of the console's totals: files processed and time taken.
void write_processed_line(const Run& s, const Elapsed& elapsed);

// The default log's totals, finish time and closing stars; the log is
// closed after them (it is opened again when the run has it closed). The
// not-copied count goes to the console too when the not-copied log is kept.
void write_default_log_summary(Run& s, int reason, std::int64_t end_time, const Elapsed& elapsed);

// Closes every log the run writes, each with its closing text: the member
// logs, the error file with the last-access setting, the hash log with its
// verdict (on standard error too), then the streams no text belongs to.
// `last_access` is the system's last-access setting as the platform gives it.
void close_run_logs(Run& s, int reason, std::int64_t last_access);

}  // namespace veldro::record
