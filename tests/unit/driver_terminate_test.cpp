#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <new>
#include <regex>
#include <string>
#include <thread>

#include <unistd.h>

#include "driver/run.h"
#include "driver/terminate.h"
#include "run/run.h"

namespace veldro {
namespace {

TEST(ExitReasons, TextsByCode) {
    EXPECT_STREQ(exit_reason_text(0), "NORMAL_EXIT");
    EXPECT_STREQ(exit_reason_text(2), "USER_ABORTED");
    EXPECT_STREQ(exit_reason_text(6), "ILLEGAL or INCOMPLETE OPTION");
    EXPECT_STREQ(exit_reason_text(9), "WRITE_ERROR");
    EXPECT_STREQ(exit_reason_text(10), "");
    EXPECT_EQ(std::string(exit_reason_text(14)), "Missing -f filetype (-f *.*)" + std::string(39, ' '));
    EXPECT_EQ(std::string(exit_reason_text(15)), std::string(38, ' '));
}

// Runs terminate_run on a prepared record in a child process and checks
// what it printed and the status it ended with.
class Termination : public ::testing::Test {
protected:
    OwnedRun settings;
    void SetUp() override {
        settings.paths.dest_given = true;
        settings.files.report_stream = stdout;
        settings.files.error_stream = stderr;
    }
};

TEST_F(Termination, DefaultLogReceivesTheStatistics) {
    char name[] = "/tmp/veldro-default-log-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    settings.logs.default_log_path = name;
    settings.progress.start_time = std::time(nullptr);
    settings.counters.files_processed = 12;
    settings.counters.bytes_processed = 1234567;
    settings.counters.files_copied = 2;
    settings.counters.bytes_copied = 2048;
    settings.counters.files_updated = 1;
    settings.counters.files_new = 1;
    settings.copy.no_dupe = true;
    settings.counters.highest_dupe_index = 4;
    EXPECT_EXIT(terminate_run(settings.run, INPUT_FILE), ::testing::ExitedWithCode(3), "");
    std::FILE* f = std::fopen(name, "rb");
    ASSERT_NE(f, nullptr);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    std::remove(name);
    EXPECT_EQ(text.rfind("\n Processed        12 files,    1,234,567 bytes: "
                         "\n Copied            2 files,        2,048 bytes: "
                         "\n Updated:          1\n New:              1"
                         "\n Highest (number of duplicates) index number 4\n"
                         "\n\n Finished ",
                         0),
              0U)
        << text;
    EXPECT_NE(text.find(" Elapsed:  0 hrs. 0 mins. "), std::string::npos) << text;
    // The calendar text pads the day with a blank on every platform.
    EXPECT_TRUE(std::regex_search(
        text,
        std::regex("\n\n Finished [A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n")))
        << text;
    EXPECT_NE(text.find("\nABNORMAL TERMINATION\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(53, '*') + "\n"), std::string::npos) << text;
}

TEST_F(Termination, AbnormalEndNamesTheReason) {
    settings.files.error_stream = stdout;  // keep the report where the matcher can't see it
    EXPECT_EXIT(
        {
            settings.files.report_stream = stderr;
            terminate_run(settings.run, USER_ABORTED);
        },
        ::testing::ExitedWithCode(2), "Abnormal termination. Reason: USER_ABORTED");
}

TEST_F(Termination, ElapsedTimeInHoursMinutesSeconds) {
    EXPECT_EXIT(
        {
            settings.progress.start_time = std::time(nullptr) - 3725;
            settings.files.report_stream = stderr;
            terminate_run(settings.run, 0);
        },
        // A second boundary may pass between the start set here and the
        // end the run reads.
        ::testing::ExitedWithCode(0), "Elapsed time:   1 hrs. 2 mins. [56] secs.");
}

TEST_F(Termination, NewCopiesSingularAndPlural) {
    EXPECT_EXIT(
        {
            settings.files.report_stream = stderr;
            settings.counters.new_copies = 1;
            terminate_run(settings.run, 0);
        },
        ::testing::ExitedWithCode(0), "of which         1 is a NEW file");
    EXPECT_EXIT(
        {
            settings.files.report_stream = stderr;
            settings.counters.new_copies = 2;
            terminate_run(settings.run, 0);
        },
        ::testing::ExitedWithCode(0), "of which         2 are NEW files");
}

TEST_F(Termination, HashLogVerdictLines) {
    EXPECT_EXIT(
        {
            settings.files.hash_log = std::tmpfile();
            settings.counters.files_hashed = 1;
            terminate_run(settings.run, 0);
        },
        ::testing::ExitedWithCode(0), "No apparent mismatches in the copied hashes");
    EXPECT_EXIT(
        {
            settings.files.hash_log = std::tmpfile();
            settings.counters.hash_mismatches = 3;
            terminate_run(settings.run, 0);
        },
        ::testing::ExitedWithCode(0), "AT LEAST 3 HASHES DIDN'T MATCH");
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator refuses such a size itself
// Memory that cannot be had is an end of the run thrown where it was asked
// for, on any thread (never an exit from there), and a failed allocation.
TEST(MemoryExhausted, IsAnEndOfTheRunThrownOnTheThreadThatAskedForIt) {
    driver::install_memory_handler();
    const auto allocate = [] { ::operator delete(::operator new (std::size_t{1} << 62)); };
    std::thread([&] { EXPECT_THROW(allocate(), std::bad_alloc); }).join();
    int reason = 0;
    try {
        allocate();
    } catch (const util::RunEnd& end) {
        reason = end.reason;
    }
    EXPECT_EQ(reason, MEMORY_ERROR);
    std::set_new_handler(nullptr);
}
#endif

}  // namespace
}  // namespace veldro
