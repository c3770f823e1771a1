// The command line: positional arguments, short options and their values,
// and the closing checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "config/option_values.h"
#include "config/options.h"
#include "driver/run.h"
#include "record/log_set.h"
#include "run/run.h"
#include "test_files.h"
#include "util/dates.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;

namespace {

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"ACCT", "RESET", "WIDTH", "SILENT"}) {
            ::unsetenv(name);  // NOLINT(concurrency-mt-unsafe)
        }
        dir_ = fs::temp_directory_path() / ("veldro_options_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "src" / "sub");
        fs::create_directories(dir_ / "dst");
        src_ = (dir_ / "src").string();
        dst_ = (dir_ / "dst").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Parses the arguments after the program name into a fresh record.
    int parse(OwnedRun& s, std::vector<std::string> args) {
        args.insert(args.begin(), "veldro");
        return veldro::driver::read_options(s, args);
    }
    // The same with "-p src -d dst" in front, so that the closing check passes.
    std::unique_ptr<OwnedRun> parse_with_paths(const std::vector<std::string>& more) {
        auto s = std::make_unique<OwnedRun>();
        std::vector<std::string> args{"-p", src_, "-d", dst_};
        args.insert(args.end(), more.begin(), more.end());
        parse(*s, args);
        return s;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write_file(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }

    fs::path dir_;
    std::string src_;
    std::string dst_;
};

using OptionsDeathTest = OptionsTest;

// Local midnight of a date as a file time, the way the cut-offs are kept.
std::uint64_t local_midnight(int month, int day, int year) {
    return veldro::util::time_to_file_time(*veldro::util::calendar_time(month, day, year, 0, 0, 0));
}

// ---- positional arguments ------------------------------------------------

TEST_F(OptionsTest, PositionalSourceAndDestinationWithDashD) {
    OwnedRun s;
    EXPECT_EQ(parse(s, {src_, dst_, "-d", dst_}), 3);
    ASSERT_EQ(s.paths.source_paths.size(), 1U);
    EXPECT_EQ(s.paths.source_paths[0], src_);
    EXPECT_EQ(s.paths.source_root_lengths[0], src_.size());
    EXPECT_EQ(s.paths.dest_path, dst_);
    EXPECT_EQ(s.paths.dest_given, 1);
    EXPECT_EQ(s.paths.path_given, 1);
}

TEST_F(OptionsTest, LaterPositionalReplacesTheDestination) {
    OwnedRun s;
    EXPECT_EQ(parse(s, {src_, path("other"), dst_, "-d", dst_}), 4);
    EXPECT_EQ(s.paths.dest_path, dst_);
}

TEST_F(OptionsTest, OptionsOnlyReturnOne) {
    OwnedRun s;
    EXPECT_EQ(parse(s, {"-p", src_, "-d", dst_}), 1);
}

TEST_F(OptionsDeathTest, PositionalDestinationAloneIsNotEnough) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] { parse(s, {src_, dst_, "-A"}); }), ::testing::ExitedWithCode(6), "");
}

TEST_F(OptionsDeathTest, ArgumentsAfterAnOptionAreNotPositional) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse(s, {"-A", src_, dst_});
                }),
                ::testing::ExitedWithCode(6), "Ignored after the options");
}

TEST_F(OptionsTest, ASlashLedArgumentIsAPathNotAnOption) {
    // On Linux '/' begins an absolute path, also inside the lists of -p.
    OwnedRun s;
    EXPECT_EQ(parse(s, {src_, dst_, "-d", dst_}), 3);
    const auto t = parse_with_paths({"-p", (dir_ / "src" / "sub").string(), "-x", "/a", "*.tmp"});
    EXPECT_EQ(t->paths.source_paths.size(), 2U);
    EXPECT_EQ(t->selection.exclude_list, (std::vector<std::string>{"/A", "*.TMP"}));
}

// ---- letters, '+' forms and values ------------------------------------------

TEST_F(OptionsTest, LettersCombine) {
    const auto s_owned = parse_with_paths({"-Ami"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.copy_all, 1);
    EXPECT_EQ(s.paths.make_dirs, 1);
    EXPECT_EQ(s.copy.immediate, 1);
    const auto t_owned = parse_with_paths({"-MUeOrzI"});
    const OwnedRun& t = *t_owned;
    EXPECT_EQ(t.paths.maintain_dir_dates, 1);
    EXPECT_EQ(t.paths.make_dirs, 1);
    EXPECT_EQ(t.paths.upper_case_dirs, 0);
    EXPECT_EQ(t.selection.exist_only, 1);
    EXPECT_EQ(t.copy.overwrite_protected, 1);
    EXPECT_EQ(t.selection.recurse, 0);
    EXPECT_EQ(t.logs.zulu_time, 1);
    EXPECT_EQ(t.copy.immediate, 1);
}

TEST_F(OptionsTest, PlusForms) {
    EXPECT_EQ(parse_with_paths({"-A", "+A"})->selection.copy_all, 0);
    EXPECT_EQ(parse_with_paths({"+A", "-A"})->selection.copy_all, 1);
    EXPECT_EQ(parse_with_paths({"-R", "+R"})->copy.reset_times, 0);
    EXPECT_EQ(parse_with_paths({"-Tc", "+T"})->selection.time_field, 'w');
    const auto w_owned = parse_with_paths({"-w", "40", "+w"});
    const OwnedRun& w = *w_owned;
    EXPECT_EQ(w.console.width_state, 1);
    EXPECT_EQ(w.console.name_width, 40);
    // Letters without a '+' form act as with '-'.
    EXPECT_EQ(parse_with_paths({"+m"})->paths.make_dirs, 1);
}

TEST_F(OptionsTest, PlusAOverridesTheEnvironmentAndIniKind) {
    OwnedRun s;
    s.selection.copy_all = 1;  // as an INI file would have left it
    parse(s, {"-p", src_, "-d", dst_, "+A"});
    EXPECT_EQ(s.selection.copy_all, 0);
}

TEST_F(OptionsTest, SilentCountsAndListOnlyAdds) {
    EXPECT_TRUE(parse_with_paths({"-vV"})->console.silent);
    EXPECT_EQ(parse_with_paths({"-n"})->copy.list_only, veldro::ListOnly::names);
    EXPECT_EQ(parse_with_paths({"-nn"})->copy.list_only, veldro::ListOnly::with_destinations);
    EXPECT_EQ(parse_with_paths({"-N"})->copy.list_only, veldro::ListOnly::with_destinations);
    OwnedRun s;
    s.copy.list_only = veldro::ListOnly::names;  // INI LIST=ON
    parse(s, {"-p", src_, "-d", dst_, "-n"});
    EXPECT_EQ(s.copy.list_only, veldro::ListOnly::with_destinations);
}

TEST_F(OptionsTest, ValuesAttachedAndSeparate) {
    struct Case {
        std::vector<std::string> args;
        std::int64_t greater;
        int width;
        int time_field;
    };
    const std::vector<Case> cases{
        {{"-G100", "-w40", "-Tc"}, 100, 40, 'c'},
        {{"-G", "100", "-w", "40", "-T", "A"}, 100, 40, 'A'},
        {{"-G", "12345678901", "-w", "0", "-t3"}, 12345678901LL, 260, '3'},
    };
    for (const Case& c : cases) {
        const auto s_owned = parse_with_paths(c.args);
        const OwnedRun& s = *s_owned;
        EXPECT_EQ(s.selection.greater_select, 1);
        EXPECT_EQ(s.selection.greater_size, c.greater);
        EXPECT_EQ(s.console.name_width, c.width);
        EXPECT_EQ(s.selection.time_field, c.time_field);
    }
}

TEST_F(OptionsTest, TimeLetterIsFollowedByMoreLetters) {
    const auto s_owned = parse_with_paths({"-Tci"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.time_field, 'c');
    EXPECT_EQ(s.copy.immediate, 1);
}

TEST_F(OptionsTest, WidthStates) {
    const auto w_owned = parse_with_paths({"-w", "30"});
    const OwnedRun& w = *w_owned;
    EXPECT_EQ(w.console.width_state, 2);
    EXPECT_EQ(w.console.width_given, 30);
    const auto big_w_owned = parse_with_paths({"-W", "30"});
    const OwnedRun& big_w = *big_w_owned;
    EXPECT_EQ(big_w.console.width_state, 4);
    EXPECT_EQ(big_w.console.name_width, 30);
}

TEST_F(OptionsTest, LessSize) {
    const auto s_owned = parse_with_paths({"-L", "2048"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.less_select, 1);
    EXPECT_EQ(s.selection.less_size, 2048);
}

TEST_F(OptionsTest, AttributeModifiers) {
    EXPECT_EQ(parse_with_paths({"-aD"})->selection.attr_dir_count, 2);
    EXPECT_EQ(parse_with_paths({"-add"})->selection.attr_dir_count, 2);
    EXPECT_EQ(parse_with_paths({"-ad"})->selection.attr_dir_count, 1);
    const auto s_owned = parse_with_paths({"-aEhMrsq"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.attr_filter, 1);
    EXPECT_EQ(s.selection.attr_encrypted, 1);
    EXPECT_EQ(s.selection.attr_hidden, 1);
    EXPECT_EQ(s.selection.attr_archive, 1);
    EXPECT_EQ(s.selection.attr_readonly, 1);
    EXPECT_EQ(s.selection.attr_system, 1);
    // The modifiers take the rest of the argument: 'm' is no -m here.
    EXPECT_EQ(s.paths.make_dirs, 0);
}

TEST_F(OptionsDeathTest, AttributeOptionNeedsAModifier) {
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"-a"}); }), ::testing::ExitedWithCode(6),
                "-a option needs a modifier");
}

// ---- bad command lines end with 6 ---------------------------------------

TEST_F(OptionsDeathTest, MissingAndDashLedValues) {
    const std::vector<std::vector<std::string>> bad{
        {"-G", "-5"}, {"-L", "-A"}, {"-G"},       {"-w"}, {"-S"},     {"-F"},     {"-T"},
        {"-H"},       {"-d", "-A"}, {"-D", "-A"}, {"-D"}, {"-d", ""}, {"-T", ""},
    };
    for (const auto& args : bad) {
        EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths(args); }), ::testing::ExitedWithCode(6), "") << args[0];
    }
}

// A value outside what its option takes is refused, naming both.
TEST_F(OptionsDeathTest, ValuesOutOfRange) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad{
        {{"-T", "Q"}, "Illegal value for -T: Q"},
        {{"-tx"}, "Illegal value for -t: x"},
        {{"--RET=-1"}, "Illegal number for --RET: -1"},
        {{"--FLAT=-5"}, "Illegal number for --FLAT: -5"},
    };
    for (const auto& [args, message] : bad) {
        EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths(args); }), ::testing::ExitedWithCode(6), message)
            << args[0];
    }
}

TEST_F(OptionsDeathTest, UsageForUnknownLettersAndUsageValues) {
    // The usage text is shown (without a terminal, all of it), then 6.
    const std::vector<std::vector<std::string>> bad{
        {"-Q"}, {"-AQ"}, {"-1", "-A"}, {"-1"}, {"-E", "-x"}, {"-x", "-A"}, {"-x"}, {"-g"}, {"-l"},
    };
    for (const auto& args : bad) {
        EXPECT_EXIT(veldro::ending_run([&] {
                        {
                            std::freopen("/dev/null", "r", stdin);
                            parse_with_paths(args);
                        };
                    }),
                    ::testing::ExitedWithCode(6), "")
            << args[0];
    }
}

TEST_F(OptionsDeathTest, LogsAsFirstArgumentShowsTheLogHelp) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] {
                    {
                        std::freopen("/dev/null", "r", stdin);
                        parse(s, {"LOGS", "-p", src_});
                    };
                }),
                ::testing::ExitedWithCode(6), "");
}

TEST_F(OptionsDeathTest, IllegalLongOption) {
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"--HASH=x"}); }), ::testing::ExitedWithCode(6), "");
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"--PATH"}); }), ::testing::ExitedWithCode(6), "");
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"--SIL=onx"}); }), ::testing::ExitedWithCode(6), "");
}

TEST_F(OptionsDeathTest, ForgottenPathOrDestination) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] { parse(s, {"-p", src_}); }), ::testing::ExitedWithCode(6), "");
    OwnedRun t;
    EXPECT_EXIT(veldro::ending_run([&] { parse(t, {"-d", dst_}); }), ::testing::ExitedWithCode(6), "");
}

TEST_F(OptionsDeathTest, TestModeNeedsAList) {
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"--TEST"}); }), ::testing::ExitedWithCode(6), "");
}

TEST_F(OptionsDeathTest, MissingSourceRootIsAnInputError) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse(s, {"-p", path("nowhere"), "-d", dst_});
                }),
                ::testing::ExitedWithCode(3), "");
}

// ---- days and dates ------------------------------------------------------

TEST_F(OptionsTest, DaysForm) {
    const auto s_owned = parse_with_paths({"-g", "30", "-l", "60"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.age_select, 1);
    EXPECT_EQ(s.selection.older_select, 1);
    EXPECT_EQ(s.selection.older_days, 30);
    EXPECT_EQ(s.selection.younger_select, 1);
    EXPECT_EQ(s.selection.younger_days, 60);
    // Day counts leave the cut-offs at their defaults.
    EXPECT_EQ(s.selection.younger_cutoff, local_midnight(1, 1, 1980));
    EXPECT_EQ(s.selection.date_use_write, 0);
}

TEST_F(OptionsTest, DefaultCutoffs) {
    const auto s_owned = parse_with_paths({});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.younger_cutoff, local_midnight(1, 1, 1980));
    const veldro::util::CalendarDate today = veldro::util::today();
    const auto end_of_today = veldro::util::calendar_time(today.month, today.day, today.year, 23, 59, 59);
    EXPECT_EQ(s.selection.older_cutoff, veldro::util::time_to_file_time(*end_of_today));
}

TEST_F(OptionsTest, DateFormsAndYears) {
    struct Case {
        std::string value;
        int year;
    };
    const std::vector<Case> cases{
        {"01-15-05", 2005}, {"01/15/2005", 2005}, {"01\\15\\99", 1999}, {"1-15-0", 2000}, {"01.15-2009", 2009},
    };
    for (const Case& c : cases) {
        const auto s_owned = parse_with_paths({"-g", c.value});
        const OwnedRun& s = *s_owned;
        EXPECT_EQ(s.selection.older_cutoff, local_midnight(1, 15, c.year)) << c.value;
        const std::int64_t midnight = *veldro::util::calendar_time(1, 15, c.year, 0, 0, 0);
        const std::int64_t now = std::time(nullptr);
        // Whole days from that midnight to now (a second may pass).
        const std::int64_t days = (now - midnight) / 86400;
        EXPECT_GE(s.selection.older_days, days - 1) << c.value;
        EXPECT_LE(s.selection.older_days, days) << c.value;
        EXPECT_EQ(s.selection.date_use_access, 0) << c.value;
    }
}

TEST_F(OptionsTest, DateLettersSetTheTimesTested) {
    const auto s_owned = parse_with_paths({"-g", "01-15-2005AW"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.date_use_access, 'a');
    EXPECT_EQ(s.selection.date_use_write, 'a');
    EXPECT_EQ(s.selection.date_use_create, 0);
    const auto t_owned = parse_with_paths({"-l01-15-2005c"});
    const OwnedRun& t = *t_owned;
    EXPECT_EQ(t.selection.younger_select, 1);
    EXPECT_EQ(t.selection.younger_cutoff, local_midnight(1, 15, 2005));
    EXPECT_EQ(t.selection.date_use_create, 'a');
}

TEST_F(OptionsDeathTest, ImpossibleOrUnusableDatesAreRefused) {
    // 10 is 1910, before 1970; 02-30 and a day-month swap are no dates;
    // no cut-off lies beyond the year 9999; days are whole numbers;
    // a lone separator is no date at all.
    for (const char* value :
         {"01-15-10", "01-01-1969", "02-30-2021", "25-12-2020", "12-2021", "-", "1G22-31682", "3d"}) {
        EXPECT_EXIT(veldro::ending_run([&] {
                        parse_with_paths({"-g", value});
                    }),
                    ::testing::ExitedWithCode(6), "")
            << value;
    }
}

TEST(OptionValuesTest, YearNormalisation) {
    using veldro::config::normalise_year;
    EXPECT_EQ(normalise_year(0), 2000);
    EXPECT_EQ(normalise_year(9), 2009);
    EXPECT_EQ(normalise_year(10), 1910);
    EXPECT_EQ(normalise_year(11), 1911);
    EXPECT_EQ(normalise_year(99), 1999);
    EXPECT_EQ(normalise_year(100), 2000);
    EXPECT_EQ(normalise_year(1899), 3799);
    EXPECT_EQ(normalise_year(1900), 1900);
    EXPECT_EQ(normalise_year(2022), 2022);
}

TEST(OptionValuesTest, DateText) {
    using veldro::config::parse_date_text;
    const auto d = parse_date_text("3/4/2021cw");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->month, 3);
    EXPECT_EQ(d->day, 4);
    EXPECT_EQ(d->year, 2021);
    EXPECT_TRUE(d->create);
    EXPECT_TRUE(d->write);
    EXPECT_FALSE(d->access);
    EXPECT_FALSE(parse_date_text("3/4"));
    EXPECT_TRUE(veldro::config::is_date_form("1\\2\\3"));
    EXPECT_FALSE(veldro::config::is_date_form("30"));
}

// ---- paths and patterns ------------------------------------------------------

TEST_F(OptionsTest, SourcePathsUpToTheNextOption) {
    const auto s_owned = parse_with_paths({"-p", (dir_ / "src" / "sub").string(), src_ + "/../src", "-A"});
    const OwnedRun& s = *s_owned;
    // The same root twice (once through "..") is walked once.
    EXPECT_EQ(s.paths.source_paths, (std::vector<std::string>{src_, (dir_ / "src" / "sub").string()}));
    EXPECT_EQ(s.selection.copy_all, 1);
}

TEST_F(OptionsTest, TypePatterns) {
    const auto s_owned = parse_with_paths({"-f", "*.doc", "*.xls", "-A"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.type_list, (std::vector<std::string>{"*.doc", "*.xls"}));
    EXPECT_EQ(s.selection.copy_all, 1);
    EXPECT_EQ(parse_with_paths({})->selection.type_list, (std::vector<std::string>{"*.*"}));
    EXPECT_EQ(parse_with_paths({"-f", "*.a", "*.a"})->selection.type_list, (std::vector<std::string>{"*.a"}));
}

TEST_F(OptionsDeathTest, TypePatternWithBackslash) {
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse_with_paths({"-f", "sub\\*.doc"});
                }),
                ::testing::ExitedWithCode(6), "Can't have a");
}

TEST_F(OptionsTest, TypeFile) {
    // Short lines are skipped; a last line without a line end keeps all its
    // characters; CR LF ends are removed.
    write_file("types.txt", "*.doc\r\nab\n\n*.xls\n*.c");
    const auto s_owned = parse_with_paths({"-F", path("types.txt")});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.type_file_given, 1);
    EXPECT_EQ(s.selection.type_list, (std::vector<std::string>{"*.doc", "*.xls", "*.c"}));
}

TEST_F(OptionsTest, TypeFileOf299Patterns) {
    std::string text;
    for (int i = 0; i < 299; ++i) {
        text += "*." + std::to_string(1000 + i) + "\n";
    }
    write_file("types.txt", text);
    EXPECT_EQ(parse_with_paths({"-F", path("types.txt")})->selection.type_list.size(), 299U);
}

TEST_F(OptionsDeathTest, TypeFileLimitsAndMissingFile) {
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += "*." + std::to_string(1000 + i) + "\n";
    }
    write_file("types.txt", text);
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse_with_paths({"-F", path("types.txt")});
                }),
                ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse_with_paths({"-F", path("none.txt")});
                }),
                ::testing::ExitedWithCode(3), "");
}

TEST_F(OptionsTest, Exclusions) {
    const auto s_owned = parse_with_paths({"-x", "*.bak", "Thumbs.db", "-A"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.selection.exclude_mode, 1);
    EXPECT_EQ(s.selection.exclude_list, (std::vector<std::string>{"*.BAK", "THUMBS.DB"}));
    const auto t_owned = parse_with_paths({"-X", "*.bak"});
    const OwnedRun& t = *t_owned;
    EXPECT_EQ(t.selection.exclude_keep_case, 1);
    EXPECT_EQ(t.selection.exclude_list, (std::vector<std::string>{"*.bak"}));
}

TEST_F(OptionsTest, DriveOnlyDestinationOnLinuxIsADirectory) {
    OwnedRun s;
    parse(s, {"-p", src_, "-D", dst_});
    EXPECT_EQ(s.paths.drive_only_dest, 1);
    EXPECT_EQ(s.paths.dest_given, 1);
    EXPECT_EQ(s.paths.dest_path, dst_ + src_);
    EXPECT_EQ(s.paths.dest_drive_index, 0);
}

TEST_F(OptionsTest, RelativeDestinationBecomesAbsolute) {
    const fs::path here = fs::current_path();
    fs::current_path(dir_);
    OwnedRun s;
    parse(s, {"-p", "src/sub/..", "-d", "dst/./x/.."});
    fs::current_path(here);
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{src_});
    EXPECT_EQ(s.paths.dest_path, dst_);
}

// ---- files the options open ----------------------------------------------

// Reading the options names files and opens none: the run opens them
// afterwards, and an option error still leaves the ones named before it.
TEST_F(OptionsTest, OptionsNameTheFilesTheRunOpens) {
    OwnedRun s;
    veldro::config::parse_command_line(
        s, {"veldro", "-p", src_, "-d", dst_, "-1", path("logs/run.log!2"), "-H", path("h.txt")});
    EXPECT_FALSE(fs::exists(dir_ / "logs"));
    EXPECT_FALSE(fs::exists(dir_ / "h.txt"));
    EXPECT_EQ(s.options.named_files.size(), 2U);
    veldro::record::open_named_files(s.options, s.files);
    EXPECT_TRUE(s.options.named_files.empty());
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.hash_error_log, nullptr);
}

TEST_F(OptionsDeathTest, AnOptionErrorOpensWhatWasNamedBeforeIt) {
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse_with_paths({"-1", path("logs/run.log!2"), "-w", "abc", "-H", path("h.txt")});
                }),
                ::testing::ExitedWithCode(6), "");
    EXPECT_TRUE(fs::exists(dir_ / "logs" / "run_LIST.log"));
    EXPECT_FALSE(fs::exists(dir_ / "h.txt"));
}

TEST_F(OptionsTest, HashLogWithCompanions) {
    const auto s_owned = parse_with_paths({"-H", path("HASH.TXT")});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(hash_code(s.hashing), 8);
    EXPECT_NE(s.files.hash_log, nullptr);
    EXPECT_NE(s.files.hash_error_log, nullptr);
    EXPECT_NE(s.files.hash_rerun_log, nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "HASH_ERROR.TXT"));
    EXPECT_TRUE(fs::exists(dir_ / "HASH_RERUN.TXT"));
    EXPECT_TRUE(fs::exists(dir_ / "HASH.TXT"));
    parse_with_paths({"-H=" + path("H2.TXT")});
    EXPECT_TRUE(fs::exists(dir_ / "H2.TXT"));
}

TEST_F(OptionsTest, HashSourceOrDestinationOnly) {
    const auto s_owned = parse_with_paths({"-hs=" + path("src.txt")});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(hash_code(s.hashing), 2);
    EXPECT_NE(s.files.hash_log, nullptr);
    EXPECT_EQ(s.files.hash_error_log, nullptr);
    EXPECT_EQ(hash_code(parse_with_paths({"-hd=" + path("dst.txt")})->hashing), 4);
    EXPECT_EQ(hash_code(parse_with_paths({"-h=" + path("both.txt")})->hashing), 8);
}

TEST_F(OptionsDeathTest, UnknownHashLetterIsReadAsAnOption) {
    // -hA=...: 'A' is not s or d: a warning, then -A, then '=' is a letter
    // outside the table: the usage text and 6.
    EXPECT_EXIT(veldro::ending_run([&] {
                    {
                        std::freopen("/dev/null", "r", stdin);
                        parse_with_paths({"-hA=" + path("x.txt")});
                    };
                }),
                ::testing::ExitedWithCode(6), "Incorrect -h option");
}

TEST_F(OptionsDeathTest, SecondHashLogIsRefused) {
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse_with_paths({"-H", path("a.txt"), "-h=" + path("b.txt")});
                }),
                ::testing::ExitedWithCode(6), "NEED a hash option");
    EXPECT_EXIT(veldro::ending_run([&] { parse_with_paths({"-hs"}); }), ::testing::ExitedWithCode(6),
                "NEED a hash option");
}

TEST_F(OptionsTest, ListFileCountsItsLines) {
    write_file("list.txt", "/a/b/c.txt\n/d/e.txt|x\nab\n\n/f.txt");
    OwnedRun s;
    parse(s, {"-S", path("list.txt"), "-d", dst_});
    EXPECT_EQ(s.paths.list_file_mode, 1);
    ASSERT_NE(s.files.list_file, nullptr);
    EXPECT_EQ(s.paths.expected_files, 3);
    char first[64] = {};
    ASSERT_NE(std::fgets(first, sizeof first, s.files.list_file), nullptr);  // rewound
    EXPECT_STREQ(first, "/a/b/c.txt\n");
}

TEST_F(OptionsDeathTest, MissingListFile) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] {
                    parse(s, {"-S", path("none.txt"), "-d", dst_});
                }),
                ::testing::ExitedWithCode(3), "Can't find source file");
}

TEST_F(OptionsTest, LogOptionOpensTheSetAndTheAbortMarker) {
    const auto s_owned = parse_with_paths({"-1", path("logs/run.log!6")});
    const OwnedRun& s = *s_owned;
    EXPECT_NE(s.files.default_log, nullptr);
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.copied_log, nullptr);
    EXPECT_EQ(s.files.not_copied_log, nullptr);
    EXPECT_EQ(s.logs.log_mask & 6U, 6U);
    EXPECT_TRUE(fs::exists(dir_ / "logs" / "run.logX"));
    EXPECT_TRUE(fs::exists(dir_ / "logs" / "run_LIST.log"));
}

TEST_F(OptionsTest, PlusOneClosesTheDefaultLog) {
    const auto s_owned = parse_with_paths({"-1=" + path("run.log!2"), "+1"});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.files.default_log, nullptr);
    EXPECT_EQ(s.logs.log_mask, 0U);
}

TEST_F(OptionsTest, ErrorFile) {
    const auto s_owned = parse_with_paths({"-E", path("err/errors.txt")});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.logs.error_file_given, 1);
    EXPECT_NE(s.files.error_stream, stderr);
    EXPECT_TRUE(fs::exists(dir_ / "err" / "errors.txt"));
    EXPECT_EQ(parse_with_paths({})->files.error_stream, stderr);
}

TEST_F(OptionsTest, EnvironmentIsTheWeakestSource) {
    ::setenv("WIDTH", "90", 1);  // NOLINT(concurrency-mt-unsafe)
    ::setenv("RESET", "on", 1);  // NOLINT(concurrency-mt-unsafe)
    const auto s_owned = parse_with_paths({});
    const OwnedRun& s = *s_owned;
    EXPECT_EQ(s.console.name_width, 90);
    EXPECT_EQ(s.copy.reset_times, 1);
    const auto t_owned = parse_with_paths({"-w", "50", "+R"});
    const OwnedRun& t = *t_owned;
    EXPECT_EQ(t.console.name_width, 50);
    EXPECT_EQ(t.copy.reset_times, 0);
    ::unsetenv("WIDTH");  // NOLINT(concurrency-mt-unsafe)
    ::unsetenv("RESET");  // NOLINT(concurrency-mt-unsafe)
}

TEST_F(OptionsTest, AccountingFileFromTheEnvironment) {
    ::setenv("ACCT", path("acct.log").c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    const auto s_owned = parse_with_paths({});
    const OwnedRun& s = *s_owned;
    ::unsetenv("ACCT");  // NOLINT(concurrency-mt-unsafe)
    EXPECT_NE(s.files.default_log, nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "acct.log"));
    // No abort marker: only -1 makes one.
    EXPECT_FALSE(fs::exists(dir_ / "acct.logX"));
}

}  // namespace
