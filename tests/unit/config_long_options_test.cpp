// Long options: keyword matching at every prefix boundary, the values and
// their errors, and the files they read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/long_options.h"
#include "config/option_values.h"
#include "config/usage.h"
#include "record/log_set.h"
#include "run/run.h"
#include "test_files.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;
using veldro::config::LongKeyword;
using veldro::config::match_long_keyword;

namespace {

// The option read, then the files it named opened as the run opens them.
int parse_long_option(OwnedRun& s, std::string_view text) {
    const int result = veldro::config::parse_long_option(s, text);
    veldro::record::open_named_files(s.options, s.files);
    return result;
}

struct MatchCase {
    const char* text;
    LongKeyword expected;
};

TEST(LongKeywordTest, EveryPrefixBoundary) {
    const std::vector<MatchCase> cases{
        {"ALL", LongKeyword::all},
        {"all", LongKeyword::all},
        {"AL", LongKeyword::none},
        {"ACC=x", LongKeyword::log},
        {"AC", LongKeyword::none},
        {"LOG", LongKeyword::log},
        {"logfile=x", LongKeyword::log},
        {"logs=x", LongKeyword::log},
        {"LO", LongKeyword::none},
        {"ADSEXTRACT", LongKeyword::ads_extract},
        {"adsextraction", LongKeyword::none},
        {"ADSEXTRAC", LongKeyword::none},
        {"ADSPARENT", LongKeyword::ads_parent},
        {"ADSPAREN", LongKeyword::none},
        {"ADSCHILD", LongKeyword::ads_child},
        {"ADSCHIL", LongKeyword::none},
        {"OLD=3", LongKeyword::older},
        {"before=3", LongKeyword::older},
        {"OL", LongKeyword::none},
        {"BE", LongKeyword::none},
        {"NEW=3", LongKeyword::younger},
        {"YOU=3", LongKeyword::younger},
        {"after=3", LongKeyword::younger},
        {"AF", LongKeyword::none},
        {"bypass=x", LongKeyword::bypass},
        {"BY", LongKeyword::none},
        {"exclude=x", LongKeyword::exclude},
        {"exist", LongKeyword::exist},
        {"EX", LongKeyword::none},
        {"CHK", LongKeyword::check_tilde},
        {"CHK_TILDE=ON", LongKeyword::check_tilde},
        {"CH", LongKeyword::none},
        {"destination=x", LongKeyword::destination},
        {"OUT=x", LongKeyword::destination},
        {"DE", LongKeyword::none},
        {"delimiter=x", LongKeyword::delimiter},
        {"dirs=x", LongKeyword::dirs},
        {"DI", LongKeyword::none},
        {"error=8", LongKeyword::error_mask},
        {"ER", LongKeyword::none},
        {"greater=5", LongKeyword::greater},
        {"GR", LongKeyword::none},
        {"hashlog=x", LongKeyword::hash_log},
        {"HASHLO", LongKeyword::none},
        {"HASH", LongKeyword::hash},
        {"HAS", LongKeyword::none},
        {"md5", LongKeyword::hash},
        {"MD", LongKeyword::none},
        {"UNICODE=x", LongKeyword::unicode},
        {"UNICOD", LongKeyword::none},
        {"IM", LongKeyword::immediate},
        {"im", LongKeyword::immediate},
        {"IMM", LongKeyword::none},
        {"immediate", LongKeyword::immediate},
        {"IMME", LongKeyword::none},
        {"IM=1", LongKeyword::immediate},
        {"lessthan=5", LongKeyword::less},
        {"list=x", LongKeyword::list},
        {"LI", LongKeyword::none},
        {"MAIN", LongKeyword::maintain},
        {"maintain", LongKeyword::maintain},
        {"MAI", LongKeyword::none},
        {"MILLI", LongKeyword::milli},
        {"MILL", LongKeyword::none},
        {"NOCASE", LongKeyword::no_case},
        {"ignore_case", LongKeyword::no_case},
        {"nodupe", LongKeyword::no_dupe},
        {"norecurse", LongKeyword::no_recurse},
        {"NO", LongKeyword::none},
        {"overwrite", LongKeyword::overwrite},
        {"OVE", LongKeyword::none},
        {"PATH=x", LongKeyword::path},
        {"PAT", LongKeyword::none},
        {"RET=3", LongKeyword::retries},
        {"recurse", LongKeyword::recurse},
        {"reset", LongKeyword::reset},
        {"RE", LongKeyword::none},
        {"SHADOW_COPY", LongKeyword::shadow},
        {"SHADO", LongKeyword::none},
        {"SHA1", LongKeyword::sha1},
        {"160", LongKeyword::sha1},
        {"SHA256", LongKeyword::sha256},
        {"256", LongKeyword::sha256},
        {"SHA384", LongKeyword::sha384},
        {"384", LongKeyword::sha384},
        {"SHA512", LongKeyword::sha512},
        {"512", LongKeyword::sha512},
        {"SHA", LongKeyword::none},
        {"SHA3-256", LongKeyword::none},
        {"TEST", LongKeyword::test},
        {"TES", LongKeyword::none},
        {"flatten=3", LongKeyword::flatten},
        {"FLA", LongKeyword::none},
        {"width=70", LongKeyword::width},
        {"WI", LongKeyword::none},
        {"ZERO", LongKeyword::zero},
        {"ZER", LongKeyword::none},
        {"zulu", LongKeyword::zulu},
        {"silent=on", LongKeyword::silent},
        {"SI", LongKeyword::none},
        {"DFXML=x", LongKeyword::dfxml},
        {"DFXM", LongKeyword::none},
        {"auditset=x", LongKeyword::audit_set},
        {"AUDITSE", LongKeyword::none},
        {"SEAL", LongKeyword::seal},
        {"SEA", LongKeyword::none},
        {"verify_media", LongKeyword::verify_media},
        {"verify=run.dfxml", LongKeyword::verify},
        {"VERIF", LongKeyword::none},
        {"report=x", LongKeyword::report},
        {"REP=x", LongKeyword::report},
        {"whatever", LongKeyword::none},
        {"", LongKeyword::none},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(match_long_keyword(c.text), c.expected) << c.text;
    }
}

class LongOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veldro_long_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data" / "temp");
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write_file(const std::string& name, const std::string& text) const {
        veldro::test::write_file(dir_ / name, text);
    }
    std::string read_file(const std::string& name) const { return veldro::test::read_file(dir_ / name); }
    fs::path dir_;
};

using LongOptionsDeathTest = LongOptionsTest;

TEST(LongOptionValuesTest, FlagsWithoutValues) {
    OwnedRun s;
    for (const char* text : {"ALL", "ADSPARENT", "EXI", "IM", "MILLI", "OVER", "SHADOW_COPY", "SHA1", "256", "SHA3",
                             "512", "TEST", "ZERO", "ZUL", "NOR"}) {
        EXPECT_EQ(parse_long_option(s, text), 0) << text;
    }
    EXPECT_EQ(s.selection.copy_all, 1);
    EXPECT_EQ(s.copy.ads_extract, 1);
    EXPECT_EQ(s.copy.ads_parent, 1);
    EXPECT_EQ(s.copy.ads_child, 0);
    EXPECT_EQ(s.selection.exist_only, 1);
    EXPECT_EQ(s.copy.immediate, 1);
    EXPECT_EQ(s.logs.milli, 1);
    EXPECT_EQ(s.copy.overwrite_protected, 1);
    EXPECT_EQ(s.paths.shadow_copy, 1);
    EXPECT_EQ(s.hashing.sha1 + s.hashing.sha256 + s.hashing.sha384 + s.hashing.sha512, 4);
    EXPECT_EQ(s.paths.test_mode, 1);
    EXPECT_EQ(s.copy.zero_dates, 1);
    EXPECT_EQ(s.logs.zulu_time, 1);
    EXPECT_EQ(s.selection.recurse, 0);
}

TEST(LongOptionValuesTest, ManifestsNeedAFileName) {
    OwnedRun s;
    EXPECT_NE(parse_long_option(s, "DFXML"), 0);
    EXPECT_NE(parse_long_option(s, "AUDITSET="), 0);
    EXPECT_EQ(parse_long_option(s, "dfxml=Case/Run.xml"), 0);
    EXPECT_EQ(parse_long_option(s, "AUDITSET=Case/Known.txt"), 0);
    EXPECT_EQ(parse_long_option(s, "seal"), 0);
    EXPECT_NE(parse_long_option(s, "REPORT"), 0);
    EXPECT_EQ(parse_long_option(s, "Report=Case/Run.html"), 0);
    EXPECT_EQ(s.logs.report_path, "Case/Run.html");
    EXPECT_EQ(s.logs.dfxml_path, "Case/Run.xml");
    EXPECT_EQ(s.logs.audit_set_path, "Case/Known.txt");
    EXPECT_EQ(s.logs.seal, 1);
}

TEST(LongOptionValuesTest, UnknownKeywordsAndValuedSwitchesAreRefused) {
    OwnedRun s;
    EXPECT_THROW(parse_long_option(s, "whatever=1"), veldro::config::OptionStop);
    EXPECT_NE(parse_long_option(s, "ALL=1"), 0);
    EXPECT_EQ(s.selection.copy_all, 0);
}

TEST(LongOptionValuesTest, OptionalOnOffValues) {
    struct Case {
        const char* text;
        int result;
        int expected;  // the field after the option, when legal
    };
    auto run = [](const std::vector<Case>& cases, auto field) {
        for (const Case& c : cases) {
            OwnedRun s;
            EXPECT_EQ(parse_long_option(s, c.text), c.result) << c.text;
            if (c.result == 0) {
                EXPECT_EQ(field(s), c.expected) << c.text;
            }
        }
    };
    run({{"SIL", 0, 1},
         {"SIL=on", 0, 1},
         {"SIL=OFF", 0, 0},
         {"SIL=onx", 1, 0},
         {"silent=yes", 0, 1},
         {"SIL=false", 0, 0}},
        [](const OwnedRun& s) { return s.console.silent; });
    run({{"REC", 0, 1}, {"REC=onx", 1, 0}, {"REC=off", 0, 0}, {"REC=0", 0, 0}, {"REC=x", 1, 0}},
        [](const OwnedRun& s) { return s.selection.recurse; });
    run({{"RES", 0, 1}, {"reset=ON", 0, 1}, {"RES=Offline", 1, 0}, {"RES=no", 0, 0}, {"RES=maybe", 1, 0}},
        [](const OwnedRun& s) { return s.copy.reset_times; });
    run({{"CHK", 0, 1}, {"CHK=OFF", 0, 0}, {"CHK_TILDE=ON", 0, 1}, {"CHK=maybe", 1, 0}},
        [](const OwnedRun& s) { return s.copy.check_tilde; });
}

TEST(LongOptionValuesTest, HashModes) {
    struct Case {
        const char* text;
        int result;
        int mode;
    };
    for (const Case& c : std::vector<Case>{{"HASH", 0, 8},
                                           {"HASH=s", 0, 2},
                                           {"HASH=d", 0, 4},
                                           {"HASH=b", 0, 8},
                                           {"md5", 0, 8},
                                           {"HASH=x", 1, 0},
                                           {"HASH=S", 1, 0}}) {
        OwnedRun s;
        EXPECT_EQ(parse_long_option(s, c.text), c.result) << c.text;
        EXPECT_EQ(hash_code(s.hashing), c.mode) << c.text;
    }
}

TEST(LongOptionValuesTest, CountsAndSizes) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "RET=12"), 0);
    EXPECT_EQ(s.hashing.retries, 12);
    EXPECT_EQ(parse_long_option(s, "RET"), 0);
    EXPECT_EQ(s.hashing.retries, 0);
    EXPECT_EQ(parse_long_option(s, "FLAT"), 0);
    EXPECT_EQ(s.copy.flatten, 1);
    EXPECT_EQ(parse_long_option(s, "flatten=20"), 0);
    EXPECT_EQ(s.copy.flatten, 20);
    EXPECT_EQ(parse_long_option(s, "greater=5000000000"), 0);
    EXPECT_EQ(s.selection.greater_select, 1);
    EXPECT_EQ(s.selection.greater_size, 5000000000LL);
    EXPECT_EQ(parse_long_option(s, "LES=200"), 0);
    EXPECT_EQ(s.selection.less_select, 1);
    EXPECT_EQ(s.selection.less_size, 200);
    EXPECT_EQ(parse_long_option(s, "WID=50"), 0);
    EXPECT_EQ(s.console.width_state, 2);
    EXPECT_EQ(s.console.name_width, 50);
    EXPECT_EQ(parse_long_option(s, "OLD=30"), 0);
    EXPECT_EQ(s.selection.older_days, 30);
    EXPECT_EQ(parse_long_option(s, "after=7"), 0);
    EXPECT_EQ(s.selection.younger_days, 7);
    EXPECT_EQ(s.selection.age_select, 1);
}

// --THREADS and the INI's THREADS take a whole number from 1 to 64; a value
// outside that leaves the default and is illegal.
TEST(LongOptionValuesTest, Threads) {
    struct Case {
        const char* value;
        unsigned expected;  // 0: illegal
    };
    const unsigned fallback = veldro::default_thread_count();
    EXPECT_GE(fallback, 1U);
    EXPECT_LE(fallback, 8U);
    for (const Case& c : std::vector<Case>{{"1", 1},
                                           {"4", 4},
                                           {"64", 64},
                                           {"0", 0},
                                           {"65", 0},
                                           {"-2", 0},
                                           {"x", 0},
                                           {"", 0},
                                           {"4x", 0},
                                           {"2.5", 0}}) {
        OwnedRun s;
        const std::string text = std::string("THREADS=") + c.value;
        EXPECT_EQ(parse_long_option(s, text), c.expected == 0 ? 1 : 0) << text;
        EXPECT_EQ(s.options.threads, c.expected == 0 ? fallback : c.expected) << text;
        EXPECT_EQ(veldro::config::thread_count_value(c.value).value_or(0), c.expected) << c.value;
    }
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "thr=3"), 0) << "compared on three letters";
    EXPECT_EQ(s.options.threads, 3U);
}

TEST(LongOptionValuesTest, RequiredValuesMissing) {
    for (const char* text : {"LOG", "LOG=", "OLD", "NEW", "BYP", "EXC", "DES", "DEL", "DIR", "ERR", "GRE", "HASHLOG",
                             "UNICODE", "LES", "LIS", "PATH", "PATH=", "WID"}) {
        OwnedRun s;
        EXPECT_NE(parse_long_option(s, text), 0) << text;
    }
}

TEST(LongOptionValuesTest, Delimiter) {
    struct Case {
        const char* text;
        int result;
        char delimiter;
    };
    for (const Case& c : std::vector<Case>{{"DEL=pipe", 0, '|'},
                                           {"DEL=PIPE", 0, '|'},
                                           {"DEL=;", 0, ';'},
                                           {"DEL=9", 0, '\t'},
                                           {"DEL=124", 0, '|'},
                                           {"DEL=abc", 1, ' '},
                                           {"DEL=0", 1, ' '},
                                           {"DEL=300", 1, ' '}}) {
        OwnedRun s;
        EXPECT_EQ(parse_long_option(s, c.text), c.result) << c.text;
        EXPECT_EQ(s.console.delimiter, c.delimiter) << c.text;
    }
}

TEST(LongOptionValuesTest, DuplicateHandling) {
    OwnedRun s;
    parse_long_option(s, "NOC");
    EXPECT_EQ(s.copy.no_case, 1);
    EXPECT_EQ(s.selection.copy_all, 1);
    OwnedRun t;
    parse_long_option(t, "nodupe");
    EXPECT_EQ(t.copy.no_dupe, 1);
    EXPECT_EQ(t.selection.copy_all, 1);
    OwnedRun u;
    parse_long_option(u, "MAIN");
    EXPECT_EQ(u.paths.make_dirs, 1);
    EXPECT_EQ(u.paths.maintain_dir_dates, 0);
    parse_long_option(u, "maintain");
    EXPECT_EQ(u.paths.maintain_dir_dates, 1);
}

TEST_F(LongOptionsTest, DestinationAndPath) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "destination=" + path("out/./x/..")), 0);
    EXPECT_EQ(s.paths.dest_given, 1);
    EXPECT_EQ(s.paths.make_dirs, 1);
    EXPECT_EQ(s.paths.dest_path, path("out"));
    EXPECT_EQ(parse_long_option(s, "PATH=" + path("data")), 0);
    EXPECT_EQ(s.paths.path_given, 1);
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("data")});
}

TEST_F(LongOptionsTest, LogfileWithKeywordsAndError) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "logfile=" + path("logs/RUN.LOG!list,cop")), 0);
    EXPECT_NE(s.files.default_log, nullptr);
    EXPECT_NE(s.files.list_log, nullptr);
    EXPECT_NE(s.files.copied_log, nullptr);
    EXPECT_EQ(s.files.not_copied_log, nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "logs" / "RUN_COPIED.LOG"));
    // --LOG makes no abort marker; that is -1's.
    EXPECT_TRUE(s.logs.abort_marker_name.empty());
    EXPECT_EQ(parse_long_option(s, "ERR=8"), 0);
    EXPECT_NE(s.files.not_copied_log, nullptr);
}

TEST_F(LongOptionsTest, LogfileColonMask) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "LOG=" + path("RUN.LOG:64")), 0);
    EXPECT_NE(s.files.dir_count_log, nullptr);
}

TEST_F(LongOptionsTest, DriveColonAndOptionColon) {
    OwnedRun s;
    try {
        parse_long_option(s, "LOG=D:\\L\\RUN.LOG:4");
        ADD_FAILURE() << "accepted";
    } catch (const veldro::config::OptionStop& stop) {
        EXPECT_EQ(stop.status, 6);
        EXPECT_NE(stop.text.find("Sorry: Can't have a drive letter/colon"), std::string::npos);
    }
}

TEST_F(LongOptionsTest, HashLogAndUnicodeList) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "hashlog=" + path("h.txt")), 0);
    EXPECT_NE(s.files.hash_log, nullptr);
    EXPECT_EQ(s.files.hash_error_log, nullptr);
    EXPECT_EQ(parse_long_option(s, "UNICODE=" + path("names.txt")), 0);
    EXPECT_EQ(s.hashing.unicode_list, 1);
    ASSERT_NE(s.files.unicode_list_stream, nullptr);
    std::fflush(s.files.unicode_list_stream);
    EXPECT_EQ(read_file("names.txt"), std::string("\xFF\xFE"));
}

TEST_F(LongOptionsDeathTest, UnicodeListThatCannotBeCreated) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] { parse_long_option(s, "UNICODE=" + path("no/such/dir/names.txt")); }),
                ::testing::ExitedWithCode(4), "");
}

TEST_F(LongOptionsTest, ListFile) {
    write_file("list.txt", "/a/b.txt\n/c/d.txt\n");
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "list=" + path("list.txt")), 0);
    EXPECT_EQ(s.paths.make_dirs, 1);
    EXPECT_EQ(s.paths.list_file_mode, 1);
    EXPECT_EQ(s.paths.expected_files, 2);
}

TEST_F(LongOptionsDeathTest, MissingListFile) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] { parse_long_option(s, "LIS=" + path("none.txt")); }),
                ::testing::ExitedWithCode(3), "");
}

TEST_F(LongOptionsTest, BypassDirectoryOrMissingPath) {
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "bypass=" + path("data/temp")), 0);
    EXPECT_EQ(parse_long_option(s, "BYP=" + path("data/gone/")), 0);
    EXPECT_EQ(s.selection.bypass_mode, 1);
    // A trailing separator as typed is kept: it keeps data/temp/ from also
    // covering data/templates/.
    EXPECT_EQ(s.selection.bypass_list, (std::vector<std::string>{path("data/temp"), path("data/gone") + "/"}));
}

TEST_F(LongOptionsTest, BypassFile) {
    // The last line has no line end and keeps its last character; a line
    // of one character ends the list.
    write_file("bypass.txt", path("data/temp") + "\r\n" + path("data/a/../b") + "\n" + path("data/c"));
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "BYP=" + path("bypass.txt")), 0);
    EXPECT_EQ(s.selection.bypass_list, (std::vector<std::string>{path("data/temp"), path("data/b"), path("data/c")}));
    write_file("bypass2.txt", path("data/x") + "\n/\n" + path("data/y") + "\n");
    OwnedRun t;
    EXPECT_EQ(parse_long_option(t, "BYP=" + path("bypass2.txt")), 0);
    EXPECT_EQ(t.selection.bypass_list, std::vector<std::string>{path("data/x")});
}

TEST_F(LongOptionsTest, ExclusionFile) {
    write_file("exclude.txt", "*.bak\r\nThumbs.db\n\n*.tmp\n");
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "exclude=" + path("exclude.txt")), 0);
    EXPECT_EQ(s.selection.exclude_mode, 1);
    EXPECT_EQ(s.selection.exclude_list, (std::vector<std::string>{"*.BAK", "THUMBS.DB"}));
    OwnedRun t;
    EXPECT_EQ(parse_long_option(t, "EXC=" + path("none.txt")), 0);
    EXPECT_TRUE(t.selection.exclude_list.empty());
}

TEST_F(LongOptionsTest, DirectoryList) {
    write_file("dirs.txt", path("data/temp") + "\n");
    OwnedRun s;
    EXPECT_EQ(parse_long_option(s, "dirs=" + path("dirs.txt")), 0);
    EXPECT_EQ(s.paths.dirs_list_mode, 1);
    EXPECT_EQ(s.copy.immediate, 1);
    EXPECT_EQ(s.paths.make_dirs, 1);
    // A list that cannot be read is an illegal option, not a run over the
    // working directory.
    OwnedRun t;
    EXPECT_NE(parse_long_option(t, "DIR=" + path("none.txt")), 0);
}

}  // namespace
