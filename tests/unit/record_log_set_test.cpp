#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "record/log_set.h"
#include "run/run.h"
#include "test_files.h"

namespace veldro::record {
namespace {

namespace fs = std::filesystem;

using test::read_file;
using test::write_file;

// Each names a file as an option does, then opens it as the run does.
void open_log_set(OwnedRun& r, const std::string& value, bool apply_marker) {
    name_log_set(r.options, value, apply_marker);
    open_named_files(r.options, r.files);
}
void open_long_log_option(OwnedRun& r, const std::string& value) {
    name_long_log(r.options, value, "LOG=" + value);
    open_named_files(r.options, r.files);
}
bool apply_error_mask_option(OwnedRun& r, const std::string& text) {
    const bool legal = add_error_mask(r.options, text);
    open_named_files(r.options, r.files);
    return legal;
}
void open_log_members(OwnedRun& r, const std::string& base_name, unsigned mask) {
    name_ini_logs(r.options, base_name, mask);
    open_named_files(r.options, r.files);
}
void open_error_file(OwnedRun& r, const std::string& name) {
    name_error_file(r.options, name);
    open_named_files(r.options, r.files);
}
void open_hash_log(OwnedRun& r, const std::string& name, bool with_companions) {
    name_hash_log(r.options, name, with_companions);
    open_named_files(r.options, r.files);
}

// A scratch directory removed after each test.
class LogSetFiles : public ::testing::Test {
protected:
    fs::path dir;
    OwnedRun s;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("veldro-logs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        s.files.report_stream = stdout;
        s.files.error_stream = stderr;
    }
    void TearDown() override {
        if (s.files.error_stream == s.files.error_log) {
            s.files.error_stream = nullptr;  // one stream under two names
        }
        for (std::FILE** f : {&s.files.default_log, &s.files.list_log, &s.files.copied_log, &s.files.not_copied_log,
                              &s.files.error_log, &s.files.dupes_log, &s.files.dir_count_log, &s.files.unicode_log,
                              &s.files.hash_log, &s.files.hash_error_log, &s.files.hash_rerun_log}) {
            if (*f != nullptr) {
                std::fclose(*f);
                *f = nullptr;
            }
        }
        if (s.files.error_stream != nullptr && s.files.error_stream != stderr) {
            std::fclose(s.files.error_stream);
        }
        fs::remove_all(dir);
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
};

TEST(LogValue, ShortOptionSeparatorsAndMasks) {
    LogValue v = read_log_value("run.log!6", LogSource::short_option);
    EXPECT_EQ(v.name, "run.log");
    EXPECT_EQ(v.mask, 6U);
    EXPECT_EQ(read_log_value("run.log|8", LogSource::short_option).mask, 8U);
    EXPECT_EQ(read_log_value("run.log;16", LogSource::short_option).mask, 16U);
    // The first kind present wins, wherever it stands.
    v = read_log_value("a;b!4", LogSource::short_option);
    EXPECT_EQ(v.name, "a;b");
    EXPECT_EQ(v.mask, 4U);
    EXPECT_EQ(read_log_value("run.log!ALL", LogSource::short_option).mask, 255U);
    EXPECT_EQ(read_log_value("run.log!xallx", LogSource::short_option).mask, 255U);
    // No cap: 256 selects no member.
    EXPECT_EQ(read_log_value("run.log!256", LogSource::short_option).mask & 255U, 0U);
    // ':' is no separator here, so a drive letter is safe.
    v = read_log_value("D:\\LOGS\\RUN.LOG", LogSource::short_option);
    EXPECT_EQ(v.name, "D:\\LOGS\\RUN.LOG");
    EXPECT_EQ(v.mask, 0U);
    EXPECT_EQ(read_log_value("run.log!-3", LogSource::short_option).mask, 0U);
}

TEST(LogValue, LongOptionColonRuleAndKeywords) {
    LogValue v = read_log_value("RUN.LOG:64", LogSource::long_option);
    EXPECT_EQ(v.name, "RUN.LOG");
    EXPECT_EQ(v.mask, 64U);
    v = read_log_value("D:\\L\\RUN.LOG", LogSource::long_option);
    EXPECT_FALSE(v.colon_conflict);
    EXPECT_EQ(v.name, "D:\\L\\RUN.LOG");
    EXPECT_EQ(v.mask, 0U);
    EXPECT_TRUE(read_log_value("D:\\L\\RUN.LOG:4", LogSource::long_option).colon_conflict);
    // Another separator takes precedence over any colon.
    v = read_log_value("D:\\L\\RUN.LOG!4", LogSource::long_option);
    EXPECT_FALSE(v.colon_conflict);
    EXPECT_EQ(v.name, "D:\\L\\RUN.LOG");
    EXPECT_EQ(v.mask, 4U);
    EXPECT_EQ(read_log_value("RUN.LOG!list,cop", LogSource::long_option).mask, 6U);
    EXPECT_EQ(read_log_value("RUN.LOG!dupes", LogSource::long_option).mask, 32U);
    // Case-sensitive spellings on the command line.
    EXPECT_EQ(read_log_value("RUN.LOG!ERR,DIR,UNI", LogSource::long_option).mask, 16U + 64U + 128U);
    EXPECT_EQ(read_log_value("RUN.LOG!err,dir,uni", LogSource::long_option).mask, 0U);
    EXPECT_EQ(read_log_value("RUN.LOG!all", LogSource::long_option).mask, 255U);
    EXPECT_EQ(read_log_value("RUN.LOG!300", LogSource::long_option).mask & 255U, 255U);
}

TEST(LogValue, ErrorMask) {
    EXPECT_EQ(read_error_mask("8"), 8U);
    EXPECT_EQ(read_error_mask("ERR"), 16U);
    EXPECT_EQ(read_error_mask("list,not"), 10U);
    EXPECT_EQ(read_error_mask("all"), 0U);
    EXPECT_EQ(read_error_mask("UNI"), 0U);
    EXPECT_EQ(read_error_mask("999"), 255U);
}

TEST(LogNames, MemberNamesAndSuffixes) {
    EXPECT_EQ(member_name("RUN.TXT", log_list), "RUN_LIST.TXT");
    EXPECT_EQ(member_name("RUN", log_list), "RUN_LIST.LOG");
    EXPECT_EQ(member_name("logs/RUN.LOG", log_copied), "logs/RUN_COPIED.LOG");
    EXPECT_EQ(member_name("RUN.LOG", log_not_copied), "RUN_NOT_COPIED.LOG");
    EXPECT_EQ(member_name("RUN.LOG", log_error), "RUN_ERROR.LOG");
    EXPECT_EQ(member_name("RUN.LOG", log_dupes), "RUN_DUPE_FILES.LOG");
    EXPECT_EQ(member_name("RUN.LOG", log_dir_counts), "RUN_DIR-COUNTS.LOG");
    EXPECT_EQ(member_name("RUN.LOG", log_unicode), "RUN_UNICODE_FILES.LOG");
    EXPECT_EQ(member_name("a.b/RUN", log_list), "a.b/RUN_LIST.LOG");
    EXPECT_EQ(hash_companion_name("x/H.TXT", "_ERROR"), "x/H_ERROR.TXT");
    EXPECT_EQ(hash_companion_name("x/H", "_RERUN"), "x/H_RERUN");
}

TEST(LogNames, DateMarker) {
    EXPECT_EQ(apply_date_marker("D:\\LOGS\\MMDD.LOG", 2026, 12, 7), "D:\\LOGS\\20261207.LOG");
    EXPECT_EQ(apply_date_marker("D:\\LOGS\\YYMM.LOG", 2026, 12, 7), "D:\\LOGS\\20261207.LOG");
    EXPECT_EQ(apply_date_marker("logs/MMDD.txt", 2027, 1, 5), "logs/20270105.txt");
    EXPECT_EQ(apply_date_marker("logs/MMDD", 2027, 1, 5), "logs/20270105");
    EXPECT_EQ(apply_date_marker("logs/MMDDRUN.LOG", 2027, 1, 5), "logs/20270105.LOG");
    // A dot in a directory before the marker is not the extension.
    EXPECT_EQ(apply_date_marker("./logs.d/MMDD.LOG", 2027, 1, 5), "./logs.d/20270105.LOG");
    // Only a marker right after a separator counts.
    EXPECT_EQ(apply_date_marker("MMDD.LOG", 2027, 1, 5), "MMDD.LOG");
    EXPECT_EQ(apply_date_marker("logs/RUNMMDD.LOG", 2027, 1, 5), "logs/RUNMMDD.LOG");
    EXPECT_EQ(apply_date_marker("logs/run.log", 2027, 1, 5), "logs/run.log");
    // Today's date has eight digits.
    const std::string today = apply_date_marker("x/MMDD.LOG");
    EXPECT_EQ(today.size(), std::string("x/20270105.LOG").size());
}

TEST_F(LogSetFiles, PrepareAppendCutsTrailingEndMarks) {
    const fs::path log = dir / "a.log";
    write_file(log, std::string("first run text\x1a\x1a", 16));
    prepare_append_file(log.string());
    EXPECT_EQ(read_file(log), "first run text");

    write_file(log, std::string("padded log\0\0\0\0\x1a\0", 16));
    prepare_append_file(log.string());
    EXPECT_EQ(read_file(log), "padded log");

    // Nine bytes or fewer are never cut.
    write_file(log, std::string("short\x1a", 6));
    prepare_append_file(log.string());
    EXPECT_EQ(read_file(log).size(), 6U);

    // A mark inside the text does not throw away what follows it.
    const std::string middle("keep this\x1a and this too\n", 24);
    write_file(log, middle);
    prepare_append_file(log.string());
    EXPECT_EQ(read_file(log), middle);

    const fs::path fresh = dir / "new.log";
    prepare_append_file(fresh.string());
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_EQ(fs::file_size(fresh), 0U);
}

TEST_F(LogSetFiles, PrepareAppendEndsWithStatusOneWhenImpossible) {
    const std::string impossible = at("no-such-dir/x.log");
    EXPECT_EXIT(veldro::ending_run([&] { prepare_append_file(impossible); }), ::testing::ExitedWithCode(1),
                "error opening");
}

TEST_F(LogSetFiles, DefaultLogGetsAsteriskSeparatorEachTime) {
    const std::string name = at("RUN.LOG");
    ASSERT_TRUE(open_default_log(s.logs, s.files, name));
    EXPECT_EQ(s.logs.default_log_path, name);
    ASSERT_TRUE(open_default_log(s.logs, s.files, name));  // replaces the earlier stream
    std::fclose(s.files.default_log);
    s.files.default_log = nullptr;
    const std::string row(40, '*');
    EXPECT_EQ(read_file(name), "\n" + row + "\n\n" + row + "\n");
}

TEST_F(LogSetFiles, DefaultLogThatCannotBeOpenedIsReported) {
    // A directory standing at the name: neither preparation nor opening
    // can make a file of it, and preparation ends the program.
    fs::create_directories(dir / "RUN.LOG");
    EXPECT_EXIT(veldro::ending_run([&] { open_default_log(s.logs, s.files, at("RUN.LOG")); }),
                ::testing::ExitedWithCode(1), "error opening");
}

TEST_F(LogSetFiles, LogSetOpensMembersWithHeadersAndAbortMarkerName) {
    const std::string base = at("sub/RUN.LOG");
    testing::internal::CaptureStdout();
    open_log_set(s, base + "!255", true);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("Creating (log) directory:  " + at("sub")), std::string::npos) << console;
    EXPECT_NE(console.find("\nOpened files list " + at("sub/RUN_LIST.LOG")), std::string::npos);
    EXPECT_NE(console.find("\nOpened copied list " + at("sub/RUN_COPIED.LOG")), std::string::npos);
    EXPECT_NE(console.find("\nOpened not copied list "), std::string::npos);
    EXPECT_NE(console.find("\nOpened error list "), std::string::npos);
    EXPECT_NE(console.find("\nOpened renamed file list "), std::string::npos);
    EXPECT_NE(console.find("\nOpened DIRECTORY file counts list "), std::string::npos);
    EXPECT_NE(console.find("\nOpened UNICODE names list "), std::string::npos);
    EXPECT_EQ(s.logs.log_mask, 255U);
    EXPECT_EQ(s.logs.log_base_name, base);
    EXPECT_EQ(s.logs.abort_marker_name, base + "X");
    EXPECT_EQ(s.files.error_stream, s.files.error_log);
    for (std::FILE* f : {s.files.list_log, s.files.copied_log, s.files.not_copied_log, s.files.error_log,
                         s.files.dupes_log, s.files.dir_count_log, s.files.unicode_log, s.files.default_log}) {
        ASSERT_NE(f, nullptr);
        std::fflush(f);
    }
    EXPECT_EQ(read_file(at("sub/RUN_LIST.LOG")),
              "FILES PROCESSED | SIZE | CREATED DATE-TIME | MODIFIED DATE-TIME | ACCESSED DATE-TIME |");
    EXPECT_EQ(read_file(at("sub/RUN_COPIED.LOG")),
              "FILES SUCCESSFULLY COPIED SIZE | SOURCE | Filler | DESTINATION | SOURCE CREATED DATE-TIME | MODIFIED "
              "DATE-TIME | ACCESSED DATE-TIME |\n");
    EXPECT_EQ(read_file(at("sub/RUN_NOT_COPIED.LOG")), "FILES NOT COPIED");
    EXPECT_EQ(read_file(at("sub/RUN_ERROR.LOG")), "SOME FILES MAY NOT HAVE COPIED DUE TO SOME ERROR\n");
    EXPECT_EQ(read_file(at("sub/RUN_DUPE_FILES.LOG")),
              "FILES WHICH HAVE A SHORT FILENAME xxx~N AS LONG FILENAME AND HAVE BEEN RENAMED\n");
    EXPECT_EQ(read_file(at("sub/RUN_DIR-COUNTS.LOG")), " FILE COUNTS PER DIRECTORY\n Count:  SOURCE DIRECTORY\n");
    const std::string header = "UNICODE FILENAMES OF COPIED FILES\r\n";
    std::string utf16("\xFF\xFE", 2);
    for (char c : header) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    EXPECT_EQ(read_file(at("sub/RUN_UNICODE_FILES.LOG")), utf16);
}

TEST_F(LogSetFiles, MembersAppendButUnicodeLogStartsAfresh) {
    const std::string base = at("RUN.LOG");
    for (int run = 0; run < 2; ++run) {
        OwnedRun fresh;
        testing::internal::CaptureStdout();
        open_log_set(fresh, base + "!130", false);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(fresh.files.copied_log, nullptr);
        ASSERT_NE(fresh.files.list_log, nullptr);
        std::fclose(fresh.files.list_log);
        std::fclose(fresh.files.unicode_log);
        std::fclose(fresh.files.default_log);
    }
    const std::string list_header =
        "FILES PROCESSED | SIZE | CREATED DATE-TIME | MODIFIED DATE-TIME | ACCESSED DATE-TIME |";
    EXPECT_EQ(read_file(at("RUN_LIST.LOG")), list_header + list_header);
    EXPECT_EQ(read_file(at("RUN_UNICODE_FILES.LOG")).size(), 2U + 2U * 35U);
}

TEST_F(LogSetFiles, ErrorMaskOpensMembersOnlyOnceLogsAreNamed) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(apply_error_mask_option(s, "8"));
    EXPECT_EQ(s.files.not_copied_log, nullptr);  // recorded for a later name
    open_log_set(s, at("RUN.LOG") + "!6", true);
    EXPECT_NE(s.files.not_copied_log, nullptr);
    EXPECT_TRUE(apply_error_mask_option(s, "ERR"));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(s.files.error_log, nullptr);
    EXPECT_EQ(s.logs.log_mask, 2U + 4U + 8U + 16U);
}

TEST_F(LogSetFiles, LongOptionDriveColonConflictIsRefused) {
    EXPECT_FALSE(name_long_log(s.options, "D:\\L\\RUN.LOG:4", "LOG=D:\\L\\RUN.LOG:4"));
    EXPECT_TRUE(s.options.named_files.empty());
    testing::internal::CaptureStdout();
    open_long_log_option(s, at("RUN.LOG") + ":64");
    testing::internal::GetCapturedStdout();
    EXPECT_NE(s.files.dir_count_log, nullptr);
    EXPECT_EQ(s.files.list_log, nullptr);
}

TEST_F(LogSetFiles, IniMembersKeepAnOpenDefaultLog) {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(open_default_log(s.logs, s.files, at("ACCT-ING")));
    std::FILE* first = s.files.default_log;
    open_log_members(s, at("INI.LOG"), 4);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.files.default_log, first);
    EXPECT_EQ(s.logs.default_log_path, at("ACCT-ING"));
    EXPECT_NE(s.files.copied_log, nullptr);
    EXPECT_TRUE(fs::exists(at("INI_COPIED.LOG")));
}

TEST_F(LogSetFiles, MemberThatCannotBeOpenedEndsWithOutputFile) {
    s.logs.log_base_name = at("RUN.LOG");
    fs::create_directories(dir / "RUN_DIR-COUNTS.LOG");
    EXPECT_EXIT(veldro::ending_run([&] { open_members_for_mask(s.files, s.logs.log_base_name, log_dir_counts); }),
                ::testing::ExitedWithCode(4), "");
    fs::create_directories(dir / "RUN_UNICODE_FILES.LOG");
    EXPECT_EXIT(veldro::ending_run([&] {
                    {
                        testing::internal::CaptureStdout();
                        open_members_for_mask(s.files, s.logs.log_base_name, log_unicode);
                    };
                }),
                ::testing::ExitedWithCode(4), "");
}

TEST_F(LogSetFiles, LogDirectoryCreatesEachMissingLevel) {
    testing::internal::CaptureStdout();
    make_log_directory(at("a/b/c/RUN.LOG"));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_NE(console.find("Creating (log\\error) directory:  " + at("a") + "\n"), std::string::npos) << console;
    EXPECT_NE(console.find("Creating (log\\error) directory:  " + at("a/b") + "\n"), std::string::npos);
    EXPECT_NE(console.find("Creating (log) directory:  " + at("a/b/c") + "\n"), std::string::npos);

    testing::internal::CaptureStdout();
    make_log_directory(at("a/b/c/OTHER.LOG"));
    make_log_directory("PLAIN.LOG");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // A file where a level should be: the reason is said, not only the line.
    std::ofstream(dir / "blocker") << "";
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    make_log_directory(at("blocker/sub/RUN.LOG"));
    testing::internal::GetCapturedStdout();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("\nCan't create the directory " + at("blocker/sub") + " ("), std::string::npos) << said;
}

TEST_F(LogSetFiles, ErrorFileAndHashLogWithCompanions) {
    testing::internal::CaptureStdout();
    open_error_file(s, at("e/ERRORS.TXT"));
    open_hash_log(s, at("h/HASH.TXT"), true);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.logs.error_file_given, 1);
    EXPECT_NE(s.files.error_stream, stderr);
    EXPECT_TRUE(fs::exists(at("e/ERRORS.TXT")));
    EXPECT_NE(s.files.hash_log, nullptr);
    EXPECT_TRUE(fs::exists(at("h/HASH_ERROR.TXT")));
    EXPECT_TRUE(fs::exists(at("h/HASH_RERUN.TXT")));
    // With -E given, the error member is a log of its own.
    std::FILE* named = s.files.error_stream;
    open_log_set(s, at("RUN.LOG!16"), false);
    EXPECT_NE(s.files.error_log, nullptr);
    EXPECT_EQ(s.files.error_stream, named);

    OwnedRun plain;
    open_hash_log(plain, at("h/ONLY.TXT"), false);
    EXPECT_NE(plain.files.hash_log, nullptr);
    EXPECT_EQ(plain.files.hash_error_log, nullptr);
    std::fclose(plain.files.hash_log);
    EXPECT_FALSE(fs::exists(at("h/ONLY_ERROR.TXT")));
}

TEST_F(LogSetFiles, HashLogNamedAgainReplacesTheEarlierOne) {
    testing::internal::CaptureStdout();
    open_hash_log(s, at("h/FIRST.TXT"), true);
    std::fputs("first line", s.files.hash_log);  // still in the stream's buffer
    open_hash_log(s, at("h/SECOND.TXT"), false);
    testing::internal::GetCapturedStdout();
    // The earlier log was closed, so what it held reached its file.
    EXPECT_EQ(read_file(at("h/FIRST.TXT")), "first line");
    EXPECT_EQ(s.files.hash_error_log, nullptr);
    EXPECT_EQ(s.files.hash_rerun_log, nullptr);
    ASSERT_NE(s.files.hash_log, nullptr);
    std::fputs("second", s.files.hash_log);
    std::fclose(s.files.hash_log);
    s.files.hash_log = nullptr;
    EXPECT_EQ(read_file(at("h/SECOND.TXT")), "second");
}

TEST_F(LogSetFiles, AbortMarkerLifecycle) {
    s.logs.abort_marker_name = at("RUN.LOGX");
    create_abort_marker(s);
    EXPECT_EQ(read_file(at("RUN.LOGX")), "\nIF YOU ARE READING THIS, THERE MAY HAVE BEEN AN UNUSUAL PROGRAM ABORT ");
    remove_abort_marker(s);
    EXPECT_FALSE(fs::exists(at("RUN.LOGX")));
}

TEST_F(LogSetFiles, UnicodeTextBecomesUtf16WithCrLf) {
    const std::string name = at("u.bin");
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    write_unicode_text(f, "a\xC3\xA9\n");
    write_unicode_text(f, "\r\n");
    std::fclose(f);
    EXPECT_EQ(read_file(name), std::string("a\0\xE9\0\r\0\n\0\r\0\n\0", 12));
}

}  // namespace
}  // namespace veldro::record
