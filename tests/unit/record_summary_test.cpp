// The run's summaries: the console totals and the elapsed time.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "record/summary.h"
#include "test_files.h"

namespace veldro::record {
namespace {

TEST(Summary, ElapsedSplitsIntoHoursMinutesSeconds) {
    const struct {
        std::int64_t seconds;
        long hours, minutes, secs;
    } cases[] = {{0, 0, 0, 0}, {59, 0, 0, 59}, {3725, 1, 2, 5}, {90061, 25, 1, 1}};
    for (const auto& c : cases) {
        const Elapsed e = split_elapsed(c.seconds);
        EXPECT_EQ(e.hours, c.hours) << c.seconds;
        EXPECT_EQ(e.minutes, c.minutes) << c.seconds;
        EXPECT_EQ(e.seconds, c.secs) << c.seconds;
    }
}

TEST(Summary, ConsoleTotalsByWhatTheRunDid) {
    const std::string totals =
        "\n  Processed          3 files.        1,234 bytes"
        "\n  Copied             2 files,        1,024 bytes: \n"
        "  Updated: 1,    New: 1\n";
    const std::string elapsed = "  Elapsed time:   0 hrs. 1 mins. 2 secs.\n\n";
    const struct {
        const char* what;
        std::function<void(OwnedRun&)> setup;
        int reason;
        std::string expected;
    } cases[] = {
        {"a plain run", [](OwnedRun&) {}, 0, totals + elapsed},
        {"an abort", [](OwnedRun&) {}, USER_ABORTED,
         totals + elapsed + "\nAbnormal termination. Reason: USER_ABORTED\n\n"},
        {"files left and new copies",
         [](OwnedRun& r) {
             r.counters.files_not_processed = 4;
             r.counters.not_processed_newer = 1;
             r.counters.new_copies = 1;
         },
         0,
         totals + "    of which         1 is a NEW file\n  NOT processed      4 files of which 1 files are newer\n" +
             elapsed},
        {"streams extracted",
         [](OwnedRun& r) {
             r.copy.ads_extract = 1;
             r.counters.ads_files_copied = 7;
         },
         0, totals + "  Copied ADS         7 files copied/extracted \n" + elapsed},
        {"a silent console", [](OwnedRun& r) { r.console.silent = true; }, 0, ""},
        {"no destination", [](OwnedRun& r) { r.paths.dest_given = 0; }, 0, ""},
    };
    for (const auto& c : cases) {
        OwnedRun run;
        run.paths.dest_given = 1;
        run.counters.files_processed = 3;
        run.counters.bytes_processed = 1234;
        run.counters.files_copied = 2;
        run.counters.bytes_copied = 1024;
        run.counters.files_updated = 1;
        run.counters.files_new = 1;
        c.setup(run);
        run.files.report_stream = std::tmpfile();
        ASSERT_NE(run.files.report_stream, nullptr);
        write_console_summary(run, c.reason, Elapsed{0, 1, 2});
        EXPECT_EQ(test::read_stream(run.files.report_stream), c.expected) << c.what;
        std::fclose(run.files.report_stream);
    }
}

}  // namespace
}  // namespace veldro::record
