// INI directives: matching order, values, missing values, the log
// directive and the reading of whole files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "config/ini.h"
#include "config/long_options.h"
#include "record/log_set.h"
#include "run/run.h"
#include "test_files.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;
using veldro::config::IniFileKind;
using veldro::config::read_ini_from;

namespace {

// The line read, then the files it named opened as the run opens them.
bool apply_ini_line(OwnedRun& s, std::string_view line, int line_number = 0) {
    const bool matched = veldro::config::apply_ini_line(s, line, line_number);
    veldro::record::open_named_files(s.options, s.files);
    return matched;
}

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veldro_ini_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "APPEND" / "X");
        fs::create_directories(dir_ / "DATA");
        fs::create_directories(dir_ / "OFFICE");
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write_file(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    // Applies one line to a fresh record.
    static std::unique_ptr<OwnedRun> one(const std::string& line) {
        auto s = std::make_unique<OwnedRun>();
        apply_ini_line(*s, line);
        return s;
    }
    fs::path dir_;
};

// ---- ON/OFF directives and plain values --------------------------------------

TEST_F(IniTest, OnOffDirectives) {
    struct Case {
        const char* line;
        int expected;
        int (*field)(const OwnedRun&);
    };
    const std::vector<Case> cases{
        {"APPEND=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.append); }},
        {"APPEND=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.logs.append); }},
        {"APPEND", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.append); }},
        {"CHK_TILDE=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.copy.check_tilde); }},
        {"IMMEDIATE=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.copy.immediate); }},
        {"NO_COUNT=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.copy.immediate); }},
        {"NAMEONLY=on", 1, [](const OwnedRun& s) { return static_cast<int>(s.console.name_only); }},
        {"PATHONLY=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.console.path_only); }},
        {"RECURSE=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.selection.recurse); }},
        {"SHA1=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.hashing.sha1); }},
        {"SHA2=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.hashing.sha256); }},
        {"SHA384=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.hashing.sha384); }},
        {"SHA5", 1, [](const OwnedRun& s) { return static_cast<int>(s.hashing.sha512); }},
        {"SILENT=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.console.silent); }},
        {"SILENCE=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.console.silent); }},
        {"ZULU=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.zulu_time); }},
        {"ZULU=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.logs.zulu_time); }},
        {"ZULU=TRUE", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.zulu_time); }},
        {"FLAT=NO", 0, [](const OwnedRun& s) { return static_cast<int>(s.copy.flatten); }},
        {"FLAT=FALSE", 0, [](const OwnedRun& s) { return static_cast<int>(s.copy.flatten); }},
        {"LIST_ONLY=NO", 0, [](const OwnedRun& s) { return static_cast<int>(s.copy.list_only); }},
        {"SILENT=NO", 0, [](const OwnedRun& s) { return static_cast<int>(s.console.silent); }},
        {"SHA2=NO", 0, [](const OwnedRun& s) { return static_cast<int>(s.hashing.sha256); }},
        {"RECURSE=0", 0, [](const OwnedRun& s) { return static_cast<int>(s.selection.recurse); }},
        {"APPEND=yes", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.append); }},
        {"LIST_ONLY=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.copy.list_only); }},
        {"LIST=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.copy.list_only); }},
        {"MAKE=1", 1, [](const OwnedRun& s) { return static_cast<int>(s.paths.make_dirs); }},
        {"MAKE=0", 0, [](const OwnedRun& s) { return static_cast<int>(s.paths.make_dirs); }},
        {"SEAL=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.logs.seal); }},
        {"SEAL=OFF", 0, [](const OwnedRun& s) { return static_cast<int>(s.logs.seal); }},
        {"VERIFY_MEDIA=ON", 1, [](const OwnedRun& s) { return static_cast<int>(s.hashing.verify_media); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.field(*one(c.line)), c.expected) << c.line;
    }
}

TEST_F(IniTest, UnknownLinesAreIgnoredAndNotEchoed) {
    OwnedRun s;
    EXPECT_FALSE(apply_ini_line(s, "COLOUR=BLUE"));
    EXPECT_TRUE(s.logs.ini_echo.empty());
    EXPECT_TRUE(apply_ini_line(s, "crc=on"));
    EXPECT_TRUE(apply_ini_line(s, "Military=on"));
    EXPECT_EQ(s.logs.ini_echo, "\n CRC=ON\n MILITARY=ON");
}

TEST_F(IniTest, Hash) {
    EXPECT_EQ(hash_code(one("HASH=SD")->hashing), 2);
    EXPECT_EQ(hash_code(one("HASH=D")->hashing), 4);
    EXPECT_EQ(hash_code(one("HASH=ON")->hashing), 8);
    EXPECT_EQ(hash_code(one("HASH=OFF")->hashing), 0);
    EXPECT_EQ(hash_code(one("HASH")->hashing), 0);
}

TEST_F(IniTest, ResetOnAndOff) {
    for (const char* line : {"RESET=ON", "RESET=YES", "RESET=1", "RESET", "RESETTIMES=ON", "RESET=true"}) {
        EXPECT_EQ(one(line)->copy.reset_times, 1) << line;
    }
    // NO, OFF and 0 turn resetting off.
    for (const char* line : {"RESET=NO", "RESET=no", "RESET=OFF", "RESET=0"}) {
        EXPECT_EQ(one(line)->copy.reset_times, 0) << line;
    }
}

TEST_F(IniTest, Flatten) {
    EXPECT_EQ(one("FLAT")->copy.flatten, 1);
    EXPECT_EQ(one("FLATTEN=10")->copy.flatten, 10);
    EXPECT_EQ(one("FLAT=ON")->copy.flatten, 1);
    EXPECT_EQ(one("FLAT=OFF")->copy.flatten, 0);
}

TEST_F(IniTest, NoDupeAndMaintain) {
    const auto s_owned = one("NODUPE=OFF");
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.copy.no_dupe, 0);
    EXPECT_EQ(s.selection.copy_all, 1);
    EXPECT_EQ(one("NODUPE=ON")->copy.no_dupe, 1);
    const auto m_owned = one("MAINTAIN=ON");
    const OwnedRun& m = *m_owned;
    EXPECT_EQ(m.paths.maintain_dir_dates, 1);
    EXPECT_EQ(m.paths.make_dirs, 1);
    EXPECT_EQ(one("MAINT=OFF")->paths.maintain_dir_dates, 0);
}

TEST_F(IniTest, NumbersLettersAndDelimiters) {
    const auto g_owned = one("GREATER=1000");
    const OwnedRun& g = *g_owned;
    EXPECT_EQ(g.selection.greater_select, 1);
    EXPECT_EQ(g.selection.greater_size, 1000);
    const auto l_owned = one("LESSTHAN=2000");
    const OwnedRun& l = *l_owned;
    EXPECT_EQ(l.selection.less_select, 1);
    EXPECT_EQ(l.selection.less_size, 2000);
    EXPECT_EQ(one("THREADS=12")->options.threads, 12U);
    const auto w_owned = one("WIDTH=70");
    const OwnedRun& w = *w_owned;
    EXPECT_EQ(w.console.name_width, 70);
    EXPECT_EQ(w.console.width_state, 2);
    EXPECT_EQ(one("TIME=c")->selection.time_field, 'C');
    EXPECT_EQ(one("TIME")->selection.time_field, 'w');
    EXPECT_EQ(one("DISPLAY=1234")->console.display_value, 1234);
    EXPECT_EQ(one("DISPL=OFF")->console.display_value, 0);
    const auto d_owned = one("DELIM=;");
    const OwnedRun& d = *d_owned;
    EXPECT_EQ(d.console.delim_on, 1);
    EXPECT_EQ(d.console.delimiter, ';');
    EXPECT_EQ(one("DELIMITER=124")->console.delimiter, '|');
    EXPECT_EQ(one("DELIM=OFF")->console.delim_on, 0);
}

TEST_F(IniTest, SizesTakeSuffixes) {
    EXPECT_EQ(one("GREATER=1K")->selection.greater_size, 1024);
    EXPECT_EQ(one("LESS=2m")->selection.less_size, 2 * 1024 * 1024);
}

// A value the directive cannot take ends the run, naming the line.
TEST(IniDeathTest, ValuesThatMeanNothingAreRefused) {
    for (const char* line :
         {"ZULU=ONE", "RESET=maybe", "FLAT=abc", "LIST=ONWARD", "GREATER=1X", "LESS=1G5", "WIDTH=7O", "HASH=NONE",
          "YOUNG=abc", "CRC=X", "THREADS=0", "THREADS=65", "THREADS=many", "TIME=Q", "DELIM=00", "DELIM=300"}) {
        EXPECT_EXIT(veldro::ending_run([&] {
                        OwnedRun s;
                        apply_ini_line(s, line, 7);
                    }),
                    ::testing::ExitedWithCode(6), "line 7")
            << line;
    }
}

TEST_F(IniTest, Ages) {
    const auto y_owned = one("YOUNGER=7");
    const OwnedRun& y = *y_owned;
    EXPECT_EQ(y.selection.age_select, 1);
    EXPECT_EQ(y.selection.younger_days, 7);
    EXPECT_EQ(one("NEWER=3")->selection.younger_days, 3);
    const auto o_owned = one("OLDER=30");
    const OwnedRun& o = *o_owned;
    EXPECT_EQ(o.selection.older_select, 1);
    EXPECT_EQ(o.selection.older_days, 30);
}

// A message that follows a log named on an earlier line comes after that
// log's own console lines, as when the log was opened where it was named.
TEST_F(IniTest, MissingValueMessagesKeepTheirPlaceAfterNamedLogs) {
    OwnedRun s;
    veldro::config::apply_ini_line(s, "LOGFILE=" + path("logs/RUN.LOG!2"));
    veldro::config::apply_ini_line(s, "GREATER=");
    testing::internal::CaptureStdout();
    veldro::record::open_named_files(s.options, s.files);
    const std::string console = testing::internal::GetCapturedStdout();
    const std::size_t opened = console.find("Opened files list");
    EXPECT_NE(opened, std::string::npos) << console;
    EXPECT_GT(console.find("\nMissing ini directive GREATER="), opened) << console;
}

TEST_F(IniTest, MissingValuesAreReportedAndTheReadingGoesOn) {
    OwnedRun s;
    apply_ini_line(s, "GREATER=5");
    apply_ini_line(s, "GREATER=");
    EXPECT_EQ(s.selection.greater_select, 0);
    apply_ini_line(s, "YOUNG=5");
    apply_ini_line(s, "OLD");
    EXPECT_EQ(s.selection.age_select, 0);
    apply_ini_line(s, "LIST=ON");
    apply_ini_line(s, "LIST");
    EXPECT_EQ(s.copy.list_only, veldro::ListOnly::off);
    apply_ini_line(s, "PATH=");
    EXPECT_EQ(s.paths.path_given, 0);
    apply_ini_line(s, "WIDTH");
    EXPECT_EQ(s.console.width_state, 1);
    EXPECT_TRUE(s.paths.dest_path.empty());
    apply_ini_line(s, "DEST");
    EXPECT_EQ(s.paths.dest_given, 0);
}

// ---- paths ---------------------------------------------------------------

TEST_F(IniTest, PathWithADirectiveWordInItIsAPath) {
    OwnedRun s;
    apply_ini_line(s, "PATH=" + path("APPEND/X"));
    EXPECT_EQ(s.logs.append, 0);
    EXPECT_EQ(s.paths.path_given, 1);
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("APPEND/X")});
    OwnedRun t;
    apply_ini_line(t, "DEST=" + path("NODUPE/MILITARY"));
    EXPECT_EQ(t.copy.no_dupe, 0);
    EXPECT_EQ(t.paths.dest_path, path("NODUPE/MILITARY"));
}

TEST_F(IniTest, PathsKeepTheirCase) {
    fs::create_directories(dir_ / "Data" / "MixedCase");
    OwnedRun s;
    apply_ini_line(s, "path=" + path("Data/MixedCase"));
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("Data/MixedCase")});
    // The echo is the line upper-cased.
    EXPECT_NE(s.logs.ini_echo.find("DATA/MIXEDCASE"), std::string::npos);
}

TEST_F(IniTest, ManifestNamesKeepTheirCase) {
    OwnedRun s;
    apply_ini_line(s, "DFXML=" + path("Case/Run.xml"));
    apply_ini_line(s, "auditset=" + path("Case/Known.txt"));
    apply_ini_line(s, "report=" + path("Case/Run.html"));
    EXPECT_EQ(s.logs.report_path, path("Case/Run.html"));
    EXPECT_EQ(s.logs.dfxml_path, path("Case/Run.xml"));
    EXPECT_EQ(s.logs.audit_set_path, path("Case/Known.txt"));
}

TEST_F(IniTest, Destinations) {
    const auto d_owned = one("DEST=" + path("out/x/.."));
    const OwnedRun& d = *d_owned;
    EXPECT_EQ(d.paths.dest_given, 1);
    EXPECT_EQ(d.paths.dest_path, path("out"));
    EXPECT_EQ(d.paths.make_dirs, 0);
    EXPECT_EQ(one("OUTPUT=" + path("out2"))->paths.dest_path, path("out2"));
}

TEST_F(IniTest, BypassLines) {
    OwnedRun s;
    apply_ini_line(s, "BYPASS=" + path("DATA/TEMP"));
    apply_ini_line(s, "BYPASS=" + path("DATA/TMP/"));
    EXPECT_EQ(s.selection.bypass_mode, 1);
    EXPECT_EQ(s.selection.bypass_list, (std::vector<std::string>{path("DATA/TEMP"), path("DATA/TMP") + "/"}));
    // A later line without its value leaves the earlier entries in force.
    apply_ini_line(s, "BYPASS");
    EXPECT_EQ(s.selection.bypass_mode, 1);
    EXPECT_EQ(one("BYPASS=")->selection.bypass_mode, 0);
}

// ---- the log directive -------------------------------------------------------

TEST_F(IniTest, LogDirectiveWithMask) {
    OwnedRun s;
    apply_ini_line(s, "LOGFILE=" + path("logs/RUN.LOG!6"));
    EXPECT_NE(s.files.default_log, nullptr);
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.copied_log, nullptr);
    EXPECT_EQ(s.files.not_copied_log, nullptr);
    // No abort marker and no date marker for INI names.
    EXPECT_TRUE(s.logs.abort_marker_name.empty());
    EXPECT_EQ(s.logs.log_base_name, path("logs/RUN.LOG"));
}

TEST_F(IniTest, LogMaskOf128SelectsEveryLog) {
    OwnedRun s;
    apply_ini_line(s, "LOGFILE=" + path("RUN.LOG!128"));
    EXPECT_EQ(s.logs.log_mask & 0xFFU, 0xFFU);
    EXPECT_NE(s.files.dir_count_log, nullptr);
    EXPECT_NE(s.files.unicode_log, nullptr);
}

TEST_F(IniTest, LogKeywordsAnyCase) {
    OwnedRun s;
    apply_ini_line(s, "LOGS=" + path("RUN.LOG;List,NOT,Errors"));
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.not_copied_log, nullptr);
    EXPECT_NE(s.files.error_log, nullptr);
    EXPECT_EQ(s.files.copied_log, nullptr);
}

TEST_F(IniTest, LogsLineWithKeywordsOnlyAddsLogsToTheNamedOne) {
    OwnedRun s;
    apply_ini_line(s, "LOGFILE=" + path("RUN.LOG"));
    apply_ini_line(s, "LOGS=list,cop");
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.copied_log, nullptr);
    EXPECT_FALSE(fs::exists("list,cop"));
}

TEST_F(IniTest, OnlyAnOffValueTurnsTheLogsOff) {
    OwnedRun s;
    apply_ini_line(s, "LOGFILE=" + path("OFFICE/RUN.LOG!2"));
    EXPECT_NE(s.files.default_log, nullptr);
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "OFFICE" / "RUN.LOG"));
    const auto off_owned = one("LOGFILE=OFF");
    const OwnedRun& off = *off_owned;
    EXPECT_EQ(off.files.default_log, nullptr);
    EXPECT_EQ(off.logs.log_mask, 0U);
    const auto mask_off_owned = one("LOGFILE=" + path("RUN2.LOG!off"));
    const OwnedRun& mask_off = *mask_off_owned;
    EXPECT_EQ(mask_off.files.default_log, nullptr);
    EXPECT_FALSE(fs::exists(dir_ / "RUN2.LOG"));
}

TEST_F(IniTest, LogDirectiveKeepsAnOpenAccountingFile) {
    OwnedRun s;
    apply_ini_line(s, "ACCT=" + path("acct.log"));
    std::FILE* first = s.files.default_log;
    ASSERT_NE(first, nullptr);
    apply_ini_line(s, "LOGFILE=" + path("RUN.LOG!2"));
    EXPECT_EQ(s.files.default_log, first);
    EXPECT_NE(s.files.list_log, nullptr);
}

TEST_F(IniTest, MissingLogNameClearsTheMask) {
    OwnedRun s;
    s.logs.log_mask = 6;
    apply_ini_line(s, "LOGFILE");
    EXPECT_EQ(s.logs.log_mask, 0U);
}

// ---- the memo ----------------------------------------------------------------

TEST_F(IniTest, Memo) {
    const auto s_owned = one("MEMO=" + path("OFFICE/memo.txt"));
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.logs.memo, 1);
    EXPECT_NE(s.files.memo_stream, nullptr);
    const auto off_owned = one("MEMO=OFF");
    const OwnedRun& off = *off_owned;
    EXPECT_EQ(off.logs.memo, 0);
    EXPECT_EQ(off.files.memo_stream, nullptr);
}

// ---- whole files ---------------------------------------------------------------

TEST_F(IniTest, OwnFileFromItsFirstLineToTheFirstEmptyLine) {
    write_file("veldro.ini", "; settings\r\n#more\r\nSILENT=ON\r\nCOLOUR=RED\r\nIMMED=ON\r\n\r\nZULU=ON\r\n");
    OwnedRun s;
    read_ini_from(s, path("veldro.ini"), IniFileKind::own);
    EXPECT_EQ(s.logs.ini_processed, 1);
    EXPECT_EQ(s.logs.ini_path, path("veldro.ini"));
    EXPECT_EQ(s.console.silent, 1);
    EXPECT_EQ(s.copy.immediate, 1);
    EXPECT_EQ(s.logs.zulu_time, 0);
    EXPECT_EQ(s.logs.ini_echo, "\n SILENT=ON\n IMMED=ON");
}

// A byte-order mark says how the file is written: UTF-16 either way round
// is read as such, a UTF-8 mark is no part of the first line; a file that
// is not the UTF-16 its mark says is refused before any line applies.
TEST_F(IniTest, FilesWithAByteOrderMark) {
    const std::string text = "SILENT=ON\r\nPATH=" + path("DATA") + "\r\n";
    std::string little = "\xFF\xFE";
    std::string big = "\xFE\xFF";
    for (const char c : text) {
        little += std::string{c, '\0'};
        big += std::string{'\0', c};
    }
    for (const std::string& file : {little, big, "\xEF\xBB\xBF" + text}) {
        write_file("veldro.ini", file);
        OwnedRun s;
        read_ini_from(s, path("veldro.ini"), IniFileKind::own);
        EXPECT_EQ(s.console.silent, 1);
        EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("DATA")});
    }
    write_file("odd.ini", little + "Z");
    EXPECT_EXIT(veldro::ending_run([&] {
                    OwnedRun s;
                    read_ini_from(s, path("odd.ini"), IniFileKind::own);
                }),
                ::testing::ExitedWithCode(6), "The ini file .*odd.ini can't be read");
}

TEST_F(IniTest, EmptyFirstLineGivesNoSettings) {
    write_file("veldro.ini", "\nSILENT=ON\n");
    OwnedRun s;
    read_ini_from(s, path("veldro.ini"), IniFileKind::own);
    EXPECT_EQ(s.console.silent, 0);
}

TEST_F(IniTest, LastLineWithoutLineEndKeepsItsLastCharacter) {
    write_file("veldro.ini", "SILENT=ON\nPATH=" + path("DATA"));
    OwnedRun s;
    read_ini_from(s, path("veldro.ini"), IniFileKind::own);
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("DATA")});
}

TEST_F(IniTest, SharedFileReadsOnlyItsBaseSection) {
    write_file("KANDRELX.INI", "[OTHER]\nSILENT=ON\n[base]\nIMMED=ON\nZULU=ON\n[BASE]\nMILLI=ON\nRESET=ON\n");
    OwnedRun s;
    read_ini_from(s, path("KANDRELX.INI"), IniFileKind::shared);
    EXPECT_EQ(s.logs.ini_processed, 1);
    EXPECT_EQ(s.console.silent, 0);
    EXPECT_EQ(s.copy.immediate, 1);
    EXPECT_EQ(s.logs.zulu_time, 1);
    EXPECT_EQ(s.copy.reset_times, 0);
}

TEST_F(IniTest, SharedFileWithoutBaseGivesNothing) {
    write_file("KANDRELX.INI", "SILENT=ON\n");
    OwnedRun s;
    read_ini_from(s, path("KANDRELX.INI"), IniFileKind::shared);
    EXPECT_EQ(s.logs.ini_processed, 0);
    EXPECT_TRUE(s.logs.ini_path.empty());
    EXPECT_EQ(s.console.silent, 0);
}

TEST_F(IniTest, CommandLineOverridesTheIniFile) {
    OwnedRun s;
    apply_ini_line(s, "SILENT=ON");
    EXPECT_EQ(veldro::config::parse_long_option(s, "SIL=OFF"), 0);
    EXPECT_EQ(s.console.silent, 0);
}

}  // namespace
