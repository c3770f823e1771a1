// The record stage without a disk: outcomes as decide and the work leave
// them, fed to the run report with temporary logs, and the bytes it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/system.h"
#include "record/file_record.h"
#include "run/run.h"

namespace veldro {
namespace {

constexpr const char* md5_abc = "900150983CD24FB0D6963F7D28E17F72";
constexpr const char* md5_abd = "4911E516E5AA21D327512E0C8B197616";

std::string text_of(std::FILE* file) {
    if (file == nullptr) {
        return {};
    }
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

void put_md5(hash::HashSet& set, const char* text) {
    std::snprintf(set.md5.data(), set.md5.size(), "%s", text);
}

class FileRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::FILE** log :
             {&s.files.not_copied_log, &s.files.copied_log, &s.files.hash_log, &s.files.error_stream}) {
            *log = std::tmpfile();
            ASSERT_NE(*log, nullptr);
        }
        s.files.report_stream = stdout;
        s.logs.zulu_time = true;
        s.progress.bytes_to_process_text = "3";
        s.progress.files_to_process = 1;
        out.reset();
        out.source = "/src/a.txt";
        out.shown_source = out.source;
        out.name = "a.txt";
        out.destination = "/dst/a.txt";
        out.planned_destination = out.destination;
        out.entry.size = 3;
        out.size_text = "3";
        // 2021-01-02 03:04:05 UTC as a file time.
        out.entry.times.last_write.ticks = (1609556645ULL + 11644473600ULL) * 10000000ULL;
        out.entry.times.creation = out.entry.times.last_write;
        out.entry.times.last_access = out.entry.times.last_write;
    }
    void TearDown() override {
        for (std::FILE* log : {s.files.not_copied_log, s.files.copied_log, s.files.hash_log, s.files.error_stream}) {
            std::fclose(log);
        }
    }
    // Runs one record step and keeps what it wrote.
    void record(const std::function<void(record::FileReport&)>& step) {
        record::FileReport report(s, out);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        step(report);
        errors = testing::internal::GetCapturedStderr();
        console = testing::internal::GetCapturedStdout();
        not_copied = text_of(s.files.not_copied_log);
        copied = text_of(s.files.copied_log);
        hash_log = text_of(s.files.hash_log);
        error_log = text_of(s.files.error_stream);
    }
    // A copy made and hashed on both sides, with `dest_md5` for the copy.
    void hashed_copy(const char* dest_md5) {
        s.hashing.hash_both();
        out.copied = true;
        out.hashed = true;
        out.copy_changed.push_back(false);
        put_md5(out.source_digests, md5_abc);
        put_md5(out.destination_digests, dest_md5);
        out.match = std::string(md5_abc) == dest_md5;
    }

    OwnedRun s;
    FileOutcome out;
    std::string console;
    std::string errors;
    std::string not_copied;
    std::string copied;
    std::string hash_log;
    std::string error_log;
};

TEST_F(FileRecordTest, DecisionsThatCopyNothing) {
    struct Case {
        const char* what;
        std::function<void(OwnedRun&, FileOutcome&)> setup;
        std::string console;
        std::string not_copied;
        int not_processed;
        int older;
    };
    const Case cases[] = {
        {"criteria",
         []([[maybe_unused]] OwnedRun& run, FileOutcome& o) {
             o.decision = Decision::skipped;
             o.reason = "reason: SIZE Criteria";
         },
         "", "\n/src/a.txt| reason: SIZE Criteria", 1, 0},
        {"older than its copy",
         []([[maybe_unused]] OwnedRun& run, FileOutcome& o) {
             o.decision = Decision::skipped;
             o.reason = "reason: AGE Criteria";
             o.older = true;
         },
         "", "\n/src/a.txt| reason: AGE Criteria", 1, 1},
        {"as old as its copy, without a not-copied log",
         []([[maybe_unused]] OwnedRun& run, FileOutcome& o) {
             o.decision = Decision::skipped;
             o.reason = "reason: AGE Criteria";
             o.reason_needs_log = true;
             run.files.not_copied_log = nullptr;
         },
         "", "", 0, 0},
        {"listed with its destination",
         []([[maybe_unused]] OwnedRun& run, FileOutcome& o) {
             o.decision = Decision::listed_only;
             o.reason = "reason: LISTING ONLY REQUESTED";
             run.copy.list_only = ListOnly::with_destinations;
         },
         "/src/a.txt          3   ==>   /dst/a.txt\n", "\n/src/a.txt| reason: LISTING ONLY REQUESTED", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        s.counters = RunCounters{};
        SetUp();
        std::FILE* kept = s.files.not_copied_log;
        c.setup(s, out);
        record([](record::FileReport& r) { r.decision(); });
        if (s.files.not_copied_log == nullptr) {
            s.files.not_copied_log = kept;
            not_copied = text_of(kept);
        }
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(not_copied, c.not_copied);
        EXPECT_EQ(s.counters.files_not_processed, c.not_processed);
        EXPECT_EQ(s.counters.not_processed_newer, c.older);
    }
}

TEST_F(FileRecordTest, HeadOfTheCopyLine) {
    s.console.name_width = 12;
    out.existed = true;
    record([](record::FileReport& r) { r.decision(); });
    EXPECT_EQ(console, "/src/a.txt   \n          3 ==> /dst/a.txt   [UPDATED]    2021/01/02 | 03:04:05");
    // Counted only once the copy is made and verified.
    EXPECT_EQ(s.counters.files_updated + s.counters.files_new, 0);
}

TEST_F(FileRecordTest, VerifiedCopy) {
    hashed_copy(md5_abc);
    record([](record::FileReport& r) { r.result(); });
    EXPECT_EQ(console, " [OK]\n 1 of 1 files:    0 of 3 bytes\n");
    EXPECT_EQ(errors, "\n HASHING: /src/a.txt\n HASHING: /dst/a.txt");
    EXPECT_EQ(hash_log, std::string("\n/src/a.txt  | ") + md5_abc + " |/dst/a.txt  | " + md5_abc + " |[OK]");
    EXPECT_EQ(copied, std::string("             3 |/src/a.txt| ==> |/dst/a.txt|2021/01/02|03:04:05c|"
                                  "2021/01/02|03:04:05m|2021/01/02|03:04:05a|") +
                          md5_abc + "|\n");
    EXPECT_EQ(not_copied, "");
    EXPECT_EQ(s.counters.files_copied, 1);
    EXPECT_EQ(s.counters.bytes_copied, 3);
    EXPECT_EQ(s.counters.new_copies, 1);
    EXPECT_EQ(s.counters.files_new, 1);
    EXPECT_EQ(s.counters.files_completed, 1);
    EXPECT_EQ(s.counters.copy_failures, 0);
}

// Every failure a result can carry, recorded by every output alike: a copy
// that is not a verified one is never listed, counted or shown as copied.
TEST_F(FileRecordTest, EachFailureIsToldAlikeByEveryOutput) {
    const std::error_code denied = std::make_error_code(std::errc::permission_denied);
    const std::string why = " (" + platform::error_text(denied) + ")";
    const std::string io = " (" + platform::error_text(std::make_error_code(std::errc::io_error)) + ")";
    const std::string full = " (" + platform::error_text(std::make_error_code(std::errc::no_space_on_device)) + ")";
    // Each row: what fails, the failure, the copy failures counted, the hash
    // log's verdict (only "OK" is a copy listed and counted as copied), a text
    // the console (stdout and stderr) holds, and the whole error log.
    struct Row {
        const char* what;
        std::function<void(FileOutcome&)> inject;
        int failures;
        std::string verdict;
        std::string console;
        std::string error_log;
    };
    const auto differ = [](const char* md5) {
        return [md5](FileOutcome& o) {
            put_md5(o.destination_digests, md5);
            o.match = false;
        };
    };
    const Row rows[] = {
        {"copy failed",
         [](FileOutcome& o) {
             o.copied = o.match = false;
             o.failure_detail = "neither way of copying could write the copy";
             o.copy_error = std::make_error_code(std::errc::no_space_on_device);
             hash::put_not_found_texts(hash::DigestSelection{}, o.destination_digests);
         },
         1, "NOT COPIED", "\n\n/src/a.txt\n NOT COPIED (error) to /dst/a.txt" + full,
         "\n/src/a.txt | NOT COPIED to /dst/a.txt" + full},
        {"retried then copied",
         [](FileOutcome& o) {
             o.retries = 1;
             o.copy_changed.push_back(false);
         },
         0, "OK", "\nRetry #1\nCopy: /src/a.txt\nTo:   /dst/a.txt\n [OK]\n", ""},
        {"source changed while copied",
         [](FileOutcome& o) {
             o.copy_changed[0] = o.source_changed = true;
             hash::put_changed_texts(hash::DigestSelection{}, o.source_digests);
             o.match = false;
         },
         1, "HASH ERROR", "\nSource changed while it was copied: /src/a.txt\n [HASH ERROR]\n", ""},
        {"changed in its retry, still differs",
         [&](FileOutcome& o) {
             o.retries = 1;
             o.copy_changed.push_back(true);
             differ(md5_abd)(o);
         },
         1, "HASH ERROR",
         "\nRetry #1\nCopy: /src/a.txt\nTo:   /dst/a.txt\n\nSource changed while it was copied: /src/a.txt\n"
         " [HASH ERROR]\n",
         ""},
        {"stamp failed", [&](FileOutcome& o) { o.copy_times.fail(denied); }, 0, "OK",
         "\n1309 Can't reset filetime for /dst/a.txt" + why + "\n",
         "\n1311 Can't reset filetime for /dst/a.txt" + why + "\n"},
        {"attributes failed", [&](FileOutcome& o) { o.attributes.fail(denied); }, 0, "OK", " [OK]\n",
         "\nCouldn't reset file attribute of /dst/a.txt" + why},
        {"source's times not put back", [&](FileOutcome& o) { o.source_times.fail(denied); }, 0, "OK",
         "\n1294 Can't reset filetime for /src/a.txt" + why + "\n",
         "\n1296 Can't reset filetime for /src/a.txt" + why + "\n"},
        {"read-back differs", differ(md5_abd), 1, "HASH ERROR", " [HASH ERROR]\n", ""},
        {"read-back unreadable", differ(hash::md5_read_error_text.data()), 1, "HASH ERROR", " [HASH ERROR]\n", ""},
        {"stream not extracted",
         [](FileOutcome& o) {
             StreamOutcome& one = o.next_stream();
             ++o.extracted_streams;
             one.text = "/src/a.txt:s";
             one.file = "/dst/a.txt[s]";
             one.error = std::make_error_code(std::errc::io_error);
             std::snprintf(one.file_md5.data(), one.file_md5.size(), "%s", hash::md5_open_error_text.data());
         },
         1, "OK", "\n\n/src/a.txt:s\n NOT EXTRACTED (error) to /dst/a.txt[s]" + io + "  [OK]\n",
         "\n/src/a.txt:s | NOT EXTRACTED to /dst/a.txt[s]" + io},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        s.counters = RunCounters{};
        SetUp();
        hashed_copy(md5_abc);
        row.inject(out);
        record([](record::FileReport& r) { r.result(); });
        const std::string shown = console + errors;
        EXPECT_NE(shown.find(row.console), std::string::npos) << shown;
        EXPECT_EQ(error_log, row.error_log);
        const std::string verdict = "|[" + row.verdict + "]";
        EXPECT_EQ(hash_log.substr(hash_log.size() - std::min(hash_log.size(), verdict.size())), verdict);
        EXPECT_EQ(s.counters.hash_mismatches, row.verdict == "HASH ERROR" ? 1 : 0);
        EXPECT_EQ(s.counters.copy_failures, row.failures);
        EXPECT_EQ(s.counters.files_completed, 1);
        if (row.verdict == "OK") {
            EXPECT_NE(copied.find("|/src/a.txt| ==> |/dst/a.txt|"), std::string::npos);
            EXPECT_EQ(not_copied, "");
            EXPECT_EQ(s.counters.files_copied + s.counters.files_new, 2);
            EXPECT_EQ(s.counters.files_not_processed, 0);
            continue;
        }
        EXPECT_EQ(copied, "");
        EXPECT_EQ(not_copied.rfind("\n/src/a.txt| reason: ", 0), 0U) << not_copied;
        EXPECT_EQ(s.counters.files_copied + s.counters.files_new + s.counters.files_updated, 0);
        EXPECT_EQ(s.counters.bytes_copied, 0);
        EXPECT_EQ(s.counters.files_not_processed, 1);
        EXPECT_EQ((shown + hash_log).find("[OK]"), std::string::npos);
    }
}

TEST_F(FileRecordTest, StreamsComeInTheOrderOfTheirListings) {
    s.hashing.hash_both();
    out.hash_log = true;
    out.listings.push_back({platform::StreamListStatus::complete, 1, 0});
    StreamOutcome& extracted = out.next_stream();
    ++out.extracted_streams;
    extracted.name = "s";
    extracted.text = "/dst/a.txt:s";
    extracted.file = "/dst/a.txt[s]";
    extracted.written = true;
    std::snprintf(extracted.file_md5.data(), extracted.file_md5.size(), "%s", md5_abc);
    out.listings.push_back({platform::StreamListStatus::name_read_failed, 1, 1});
    StreamOutcome& hashed = out.next_stream();
    ++out.hashed_streams;
    hashed.text = "/src/a.txt:s";
    hashed.destination_text = "/dst/a.txt:s";
    put_md5(hashed.source_digests, md5_abc);
    put_md5(hashed.destination_digests, md5_abd);
    record([](record::FileReport& r) { r.streams(); });
    EXPECT_EQ(console, "\n160");
    EXPECT_EQ(hash_log, std::string("\n  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |/dst/a.txt[s]  | ") +
                            md5_abc + "\n/src/a.txt:s  | " + md5_abc + " |/dst/a.txt:s  | " + md5_abd + " | [ERROR] ");
    EXPECT_EQ(s.counters.ads_files_copied, 1);
    EXPECT_EQ(s.counters.copy_failures, 1);
}

TEST_F(FileRecordTest, FileListLinesThatCopyNothing) {
    struct Case {
        Decision decision;
        std::string console;
        std::string not_copied;
        std::string copied;
    };
    const Case cases[] = {
        {Decision::directory, "\n/src/a.txt ==> SOURCE IS DIRECTORY, NOT PROCESSED", "", ""},
        {Decision::excluded, "\nExcluding: /src/a.txt\n", "", ""},
        {Decision::not_located, "\n/src/a.txt ==> NOT LOCATED\a", "\n/src/a.txt| Not Copied: Reason: File NOT LOCATED",
         ""},
        {Decision::present, "", "", "\n/src/a.txt|"},
        {Decision::onto_itself,
         "\a\nERROR: /src/a.txt | NOT COPIED to /dst/a.txt REASON: DESTINATION IS THE SOURCE ITSELF ",
         "\n/src/a.txt| NOT COPIED to /dst/a.txt|\n/src/a.txt| NOT COPIED: Reason: Destination is the source itself",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.decision));
        TearDown();
        s.counters = RunCounters{};
        SetUp();
        out.listed = true;
        out.decision = c.decision;
        record([](record::FileReport& r) { r.decision(); });
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(not_copied, c.not_copied);
        EXPECT_EQ(copied, c.copied);
    }
}

TEST_F(FileRecordTest, FileListCopyWithItsDigests) {
    s.hashing.hash_both();
    out.listed = true;
    out.copied = true;
    out.source_hashed = out.destination_hashed = out.compared = out.match = true;
    put_md5(out.source_digests, md5_abc);
    put_md5(out.destination_digests, md5_abc);
    record([](record::FileReport& r) { r.result(); });
    EXPECT_EQ(console, "\n            3 /src/a.txt\n  ==> /dst/a.txt\n [OK]");
    EXPECT_EQ(hash_log, std::string("\n\n/src/a.txt  ") + md5_abc + " \n/dst/a.txt  " + md5_abc + " ");
    EXPECT_EQ(copied, "\n/src/a.txt| 3|2021/01/02|03:04:05c|2021/01/02|03:04:05m|");
    EXPECT_EQ(s.counters.files_copied, 1);
    EXPECT_EQ(s.counters.files_processed, 1);
}

}  // namespace
}  // namespace veldro
