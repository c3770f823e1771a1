#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "record/file_record.h"
#include "run/run.h"
#include "test_files.h"
#include "work/verify.h"

namespace veldro::work {
namespace {

namespace fs = std::filesystem;

constexpr const char* md5_abc = "900150983CD24FB0D6963F7D28E17F72";
constexpr const char* sha1_abc = "A9993E364706816ABA3E25717850C26C9CD0D89D";
constexpr const char* md5_abd = "4911E516E5AA21D327512E0C8B197616";
constexpr const char* md5_open_error = "- ERROR - FILE POSSIBLY LOCKED -";

using test::read_file;
using test::write_file;

std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

class Verify : public ::testing::Test {
protected:
    fs::path dir;
    OwnedRun s;
    std::string src;
    std::string dst;
    std::string console;
    std::string errors;
    bool verified = false;
    FileOutcome out;
    WorkScratch scratch;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("veldro-verify-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        src = (dir / "a.txt").string();
        dst = (dir / "out" / "a.txt").string();
        write_file(src, "abc");
        write_file(dst, "abc");
        s.files.report_stream = stdout;
        s.files.error_stream = stderr;
    }
    void TearDown() override {
        for (std::FILE** f : {&s.files.hash_log, &s.files.hash_error_log, &s.files.hash_rerun_log,
                              &s.files.unicode_list_stream, &s.files.copied_log}) {
            if (*f != nullptr) {
                std::fclose(*f);
                *f = nullptr;
            }
        }
        fs::remove_all(dir);
    }

    void open_hash_logs(bool companions) {
        s.files.hash_log = std::fopen((dir / "H.TXT").string().c_str(), "w");
        if (companions) {
            s.files.hash_error_log = std::fopen((dir / "H_ERROR.TXT").string().c_str(), "w");
            s.files.hash_rerun_log = std::fopen((dir / "H_RERUN.TXT").string().c_str(), "w");
        }
    }
    std::string log_text(const char* name) {
        for (std::FILE* f : {s.files.hash_log, s.files.hash_error_log, s.files.hash_rerun_log,
                             s.files.unicode_list_stream, s.files.copied_log}) {
            if (f != nullptr) {
                std::fflush(f);
            }
        }
        return read_file(dir / name);
    }
    // The work on the digests, then its records.
    void run(bool copy_succeeded = true) {
        out.reset();
        out.source = src;
        out.destination = dst;
        (void)platform::lookup_path(src, out.entry);  // the walk's look at it, when it is there
        out.copied = copy_succeeded;
        out.hashed = true;
        out.unicode_record = s.files.unicode_list_stream != nullptr;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        platform::NativeFileSystem native;
        verify_copy(s.options, out, scratch, native);
        const bool work_verified = !out.compared || out.match;
        verified = record::FileReport(s, out).verification();
        EXPECT_EQ(work_verified, verified);
        errors = testing::internal::GetCapturedStderr();
        console = testing::internal::GetCapturedStdout();
    }
};

TEST(DigestsMatch, ErrorTextsNeverMatch) {
    EXPECT_TRUE(digests_match(md5_abc, md5_abc));
    EXPECT_FALSE(digests_match(md5_abc, md5_abd));
    EXPECT_FALSE(digests_match(md5_open_error, md5_open_error));
    EXPECT_FALSE(digests_match("", ""));
}

TEST_F(Verify, BothSidesWithShaColumnsAndOkVerdict) {
    s.hashing.hash_both();
    s.hashing.sha1 = 1;
    open_hash_logs(true);
    run();
    EXPECT_EQ(console, " [OK]");
    EXPECT_EQ(errors, "\n HASHING: " + src + "\n HASHING: " + dst);
    EXPECT_EQ(log_text("H.TXT"), "\n" + src + "  | " + md5_abc + "  | " + sha1_abc + " |" + dst + "  | " + md5_abc +
                                     "  | " + sha1_abc + " |[OK]");
    EXPECT_EQ(log_text("H_ERROR.TXT"), "");
    EXPECT_EQ(log_text("H_RERUN.TXT"), "");
    EXPECT_EQ(s.counters.hash_mismatches, 0);
    EXPECT_EQ(s.counters.copy_failures, 0);
}

TEST_F(Verify, CorruptedCopyIsRepairedByARetry) {
    write_file(dst, "abd");
    s.hashing.hash_both();
    s.hashing.retries = 2;
    open_hash_logs(true);
    run();
    EXPECT_EQ(console, "\nRetry #1\nCopy: " + src + "\nTo:   " + dst + "\n [OK]");
    EXPECT_EQ(read_file(dst), "abc");
    EXPECT_EQ(log_text("H.TXT"), "\n" + src + "  | " + md5_abc + " |" + dst + "  | " + md5_abc + " |[OK]");
    EXPECT_EQ(s.counters.hash_mismatches, 0);
    // No temporary file is left beside the copy.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
}

TEST_F(Verify, MismatchWithoutRetriesIsReportedAndListedInCompanions) {
    write_file(dst, "abd");
    s.hashing.hash_both();
    open_hash_logs(true);
    run();
    EXPECT_EQ(console, " [HASH ERROR]");
    EXPECT_EQ(read_file(dst), "abd");  // no retry was allowed
    EXPECT_EQ(log_text("H.TXT"), "\n" + src + "  | " + md5_abc + " |" + dst + "  | " + md5_abd + " |[HASH ERROR]");
    EXPECT_EQ(log_text("H_ERROR.TXT"), src + "  | " + md5_abc + " |" + dst + "  | " + md5_abd + " |ERROR\n");
    EXPECT_EQ(log_text("H_RERUN.TXT"), src + "  | " + md5_abc + "\n");
    EXPECT_EQ(s.counters.hash_mismatches, 1);
    EXPECT_EQ(s.counters.copy_failures, 1);
}

// A copy that could not be made is a failed copy, never a digest mismatch.
TEST_F(Verify, RetriesThatCannotCopyEndNotCopied) {
    dst = (dir / "missing" / "a.txt").string();  // no directory: every copy fails
    s.hashing.hash_both();
    s.hashing.retries = 2;
    open_hash_logs(true);
    run(false);
    EXPECT_EQ(console, "\nRetry #1\nCopy: " + src + "\nTo:   " + dst + "\n" + "\nRetry #2\nCopy: " + src +
                           "\nTo:   " + dst + "\n");
    EXPECT_EQ(log_text("H.TXT"),
              "\n" + src + "  | " + md5_abc + " |" + dst + "  | ---- ERROR - FILE NOT FOUND ---- |[NOT COPIED]");
    EXPECT_FALSE(verified);
    EXPECT_EQ(s.counters.hash_mismatches, 0);
    // The failed copy was counted by the pipeline already.
    EXPECT_EQ(s.counters.copy_failures, 0);
}

TEST_F(Verify, TwoUnreadableSidesOfAFailedCopyAreNoMismatch) {
    src = (dir / "gone.txt").string();
    dst = (dir / "out" / "gone.txt").string();
    s.hashing.hash_both();
    open_hash_logs(true);
    run(false);
    EXPECT_EQ(console, "");
    EXPECT_EQ(s.counters.hash_mismatches, 0);
    EXPECT_NE(log_text("H.TXT").find("|[NOT COPIED]"), std::string::npos);
}

TEST_F(Verify, SourceOnlyAndDestinationOnlyLines) {
    s.hashing.hash_none();
    s.hashing.hash_sources = true;
    s.hashing.sha256 = 1;
    open_hash_logs(false);
    run();
    EXPECT_EQ(console, "");
    EXPECT_EQ(errors, "\n HASHING: " + src);
    const std::string sha256_abc = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_EQ(log_text("H.TXT"), "\n" + src + "  | " + md5_abc + "  | " + sha256_abc + " ");

    s.hashing.hash_none();

    s.hashing.hash_copies = true;
    s.hashing.sha256 = 0;
    run();
    EXPECT_EQ(console, "");
    EXPECT_EQ(errors, "\n HASHING: " + dst);
    EXPECT_EQ(log_text("H.TXT"),
              "\n" + src + "  | " + md5_abc + "  | " + sha256_abc + " " + "\n" + dst + "  | " + md5_abc + " ");
}

TEST_F(Verify, MismatchesCountOnlyWithAHashLog) {
    write_file(dst, "abd");
    s.hashing.hash_both();
    run();
    EXPECT_EQ(console, " [HASH ERROR]");
    EXPECT_EQ(s.counters.hash_mismatches, 0);
    EXPECT_EQ(s.counters.copy_failures, 1);
}

TEST_F(Verify, LeavesTheCopiedLogToThePipeline) {
    // The copied log lists verified copies only: its line, digest included,
    // is written once the verdict is known, not here.
    s.hashing.hash_both();
    s.files.copied_log = std::fopen((dir / "C.LOG").string().c_str(), "w");
    run();
    EXPECT_TRUE(verified);
    EXPECT_EQ(log_text("C.LOG"), "");
    EXPECT_EQ(out.source_digests.md5.data(), std::string(md5_abc));
}

TEST_F(Verify, UnicodeRecord) {
    s.hashing.hash_both();
    s.hashing.sha1 = 1;
    s.files.unicode_list_stream = std::fopen((dir / "U.BIN").string().c_str(), "wb");
    run();
    EXPECT_EQ(log_text("U.BIN"),
              utf16(src + "|" + md5_abc + "|" + dst + "|" + md5_abc + "| [OK]|SHA1|" + sha1_abc + "|\r\n"));
}

TEST_F(Verify, UnicodeRecordWithoutHashing) {
    s.files.unicode_list_stream = std::fopen((dir / "U.BIN").string().c_str(), "wb");
    run();
    EXPECT_EQ(console, "");
    EXPECT_EQ(errors, "");
    EXPECT_EQ(log_text("U.BIN"), utf16(src + "\r\n"));
}

}  // namespace
}  // namespace veldro::work
