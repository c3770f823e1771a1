// Lines the run report writes for the walk and the destination naming.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "platform/system.h"
#include "record/run_report.h"
#include "test_files.h"

namespace veldro::record {
namespace {

class RunReport : public ::testing::Test {
protected:
    OwnedRun run;
    void SetUp() override {
        for (std::FILE** f : {&run.files.report_stream, &run.files.dupes_log, &run.files.not_copied_log,
                              &run.files.dir_count_log, &run.files.error_stream}) {
            *f = std::tmpfile();
            ASSERT_NE(*f, nullptr);
        }
    }
    void TearDown() override {
        for (std::FILE* f : {run.files.report_stream, run.files.dupes_log, run.files.not_copied_log,
                             run.files.dir_count_log, run.files.error_stream}) {
            std::fclose(f);
        }
    }
};

TEST_F(RunReport, TildeRenameNamesBothNamesInTheDupesLogAndOnTheConsole) {
    write_tilde_rename(run, "/d/LONGNA~1.TXT", "/d/LONGNA~1.TXT.D[12345]");
    EXPECT_EQ(test::read_stream(run.files.dupes_log), "\n/d/LONGNA~1.TXT |RENAMED TO:| /d/LONGNA~1.TXT.D[12345]\n");
    EXPECT_EQ(test::read_stream(run.files.report_stream),
              "\n\nDUPE_FILE: /d/LONGNA~1.TXT ==>   /d/LONGNA~1.TXT.D[12345]\n");
}

TEST_F(RunReport, UnreadableDirectoryIsToldEverywhereAndCountsAsAFailure) {
    const std::error_code denied(EACCES, std::generic_category());
    report_unreadable_directory(run, "/src/locked/", denied);
    const std::string reason = platform::error_text(denied);
    EXPECT_EQ(test::read_stream(run.files.not_copied_log),
              "\n/src/locked| Not Copied: Reason: Directory could not be read (" + reason + ")");
    EXPECT_EQ(test::read_stream(run.files.error_stream), "\n/src/locked | DIRECTORY NOT READ (" + reason + ")");
    EXPECT_EQ(run.counters.files_not_processed, 1);
    EXPECT_EQ(run.counters.copy_failures, 1);
}

// The directory whose files were recorded last, once, and only with copies.
TEST_F(RunReport, DirectoryCountLine) {
    note_recorded_directory(run, "/src/photos");
    run.engine.dir_copied_count = 12;
    report_directory_count(run);
    report_directory_count(run);
    note_recorded_directory(run, "/src/empty");
    report_directory_count(run);
    EXPECT_EQ(test::read_stream(run.files.dir_count_log), "\n    12   /src/photos");
}

}  // namespace
}  // namespace veldro::record
