#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/timezone.h"
#include "record/run_header.h"
#include "run/run.h"
#include "test_files.h"

namespace veldro::record {
namespace {

namespace fs = std::filesystem;

// 2026-12-09 18:30:15 UTC (a Wednesday) and 2026-07-09 18:30:15 UTC.
constexpr std::int64_t december_instant = 1796841015;
constexpr std::int64_t july_instant = 1783621815;

// Sets TZ for one test and puts the earlier value back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        set(zone);
    }
    ~ZoneScope() { set(saved_ ? saved_->c_str() : nullptr); }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    static void set(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone != nullptr ? zone : "");
#else
        if (zone != nullptr) {
            setenv("TZ", zone, 1);
        } else {
            unsetenv("TZ");
        }
#endif
    }
    std::optional<std::string> saved_;
};

TEST(RunHeaderZone, Abbreviations) {
    EXPECT_EQ(zone_abbreviation("Pacific Standard Time"), "PST");
    EXPECT_EQ(zone_abbreviation("W. Europe Daylight Time"), "WED");
    EXPECT_EQ(zone_abbreviation("EST5EDT"), "EST");
    EXPECT_EQ(zone_abbreviation("cet"), "CET");
    EXPECT_EQ(zone_abbreviation("Foo bar"), "FB");
    EXPECT_EQ(zone_abbreviation("GB"), "GB");
    EXPECT_EQ(zone_abbreviation(""), "");
}

TEST(RunHeaderZone, CalendarText) {
    platform::CalendarFields f{2026, 12, 9, 7, 5, 3, 3};
    EXPECT_EQ(calendar_text(f), "Wed Dec  9 07:05:03 2026");
    f = platform::CalendarFields{2027, 1, 24, 23, 59, 59, 0};
    EXPECT_EQ(calendar_text(f), "Sun Jan 24 23:59:59 2027");
}

TEST(RunHeaderZone, PacificWinterIsStandardTime) {
    const ZoneScope zone("PST8PDT");
    const ZoneDescription d = describe_zone(platform::zone_state(december_instant), december_instant);
    EXPECT_EQ(d.std_abbrev, "PST");
    EXPECT_EQ(d.dst_abbrev, "PDT");
    EXPECT_FALSE(d.dst_in_force);
    EXPECT_EQ(d.utc_hours, -8);
    EXPECT_EQ(d.gmt_text, "Wed Dec  9 18:30:15 2026");
    EXPECT_EQ(d.local_text, "Wed Dec  9 10:30:15 2026");
}

TEST(RunHeaderZone, PacificSummerIsDaylightTime) {
    const ZoneScope zone("PST8PDT");
    const ZoneDescription d = describe_zone(platform::zone_state(july_instant), july_instant);
    EXPECT_TRUE(d.dst_in_force);
    EXPECT_EQ(d.utc_hours, -7);
    EXPECT_EQ(d.gmt_text, "Thu Jul  9 18:30:15 2026");
    EXPECT_EQ(d.local_text, "Thu Jul  9 11:30:15 2026");
}

TEST(RunHeaderZone, ZoneWithoutDaylightSaving) {
    const ZoneScope zone("JST-9");
    const ZoneDescription d = describe_zone(platform::zone_state(july_instant), july_instant);
    EXPECT_EQ(d.std_abbrev, "JST");
    EXPECT_EQ(d.dst_abbrev, "");
    EXPECT_FALSE(d.dst_in_force);
    EXPECT_EQ(d.utc_hours, 9);
    EXPECT_EQ(d.local_text, "Fri Jul 10 03:30:15 2026");
}

class RunHeaderLogs : public ::testing::Test {
protected:
    fs::path dir;
    OwnedRun s;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("veldro-header-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    static std::string slurp(const fs::path& path) { return test::read_file(path); }
};

TEST_F(RunHeaderLogs, DefaultAndErrorLogLines) {
    const ZoneScope zone("JST-9");
    const fs::path log = dir / "RUN.LOG";
    const fs::path errors = dir / "ERR.LOG";
    s.files.default_log = std::fopen(log.string().c_str(), "w");
    s.files.error_stream = std::fopen(errors.string().c_str(), "w");
    s.logs.error_file_given = 1;
    s.selection.bypass_mode = 1;
    s.logs.ini_path = "veldro.ini";
    s.logs.ini_echo = "\n LOG=x.log";
    s.logs.case_number = "2026-042";
    s.logs.notes = "seized\n Command line: forged";
    testing::internal::CaptureStdout();
    set_command_line(s, {"/opt/veldro", "-p", "src dir"});
    write_run_header(s);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.files.default_log, nullptr);  // closed; reopened by name later
    std::fclose(s.files.error_stream);

    const std::string text = slurp(log);
    ASSERT_EQ(text.rfind("\n Started ", 0), 0U) << text;
    // "\n Started " + 24 + " GMT, " + hh:mm + " JST (JST/:UTC9 )\n"
    EXPECT_EQ(text.substr(10 + 24, 6), " GMT, ");
    EXPECT_EQ(text.substr(10 + 24 + 6 + 5),
              " JST (JST/:UTC9 )\n Command line: /opt/veldro -p src dir \n Case: 2026-042\n"
              " Notes: seized\\n Command line: forged\n"
              "  **** BYPASS DIRS option used\n INI_FILE\n LOG=x.log\n END INI FILE\n");
    const std::string error_text = slurp(errors);
    EXPECT_EQ(error_text.rfind("\n" + std::string(60, '*') + "\n\n Started ", 0), 0U) << error_text;
    EXPECT_NE(error_text.find("(JST/:UTC9 )\n Command line: /opt/veldro -p src dir \n\n"), std::string::npos);
    EXPECT_EQ(error_text.substr(error_text.size() - 3), " \n\n");

    EXPECT_EQ(console.rfind("\n Started ", 0), 0U);
    EXPECT_NE(console.find(" GMT, "), std::string::npos);
    EXPECT_NE(console.find(" JST (JST/:UTC9 )\n /opt/veldro -p src dir \n\n"), std::string::npos) << console;
}

TEST_F(RunHeaderLogs, SilentWritesNothing) {
    const fs::path log = dir / "RUN.LOG";
    s.files.default_log = std::fopen(log.string().c_str(), "w");
    s.console.silent = 1;
    testing::internal::CaptureStdout();
    set_command_line(s, {"veldro"});
    write_run_header(s);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(s.files.default_log, nullptr);
    std::fclose(s.files.default_log);
    EXPECT_EQ(slurp(log), "");
}

TEST_F(RunHeaderLogs, ZoneWithoutNameShowsLocalTime) {
    const fs::path log = dir / "RUN.LOG";
    s.files.default_log = std::fopen(log.string().c_str(), "w");
    platform::ZoneState state;
    state.local = platform::CalendarFields{2026, 12, 9, 10, 30, 15, 3};
    set_command_line(s, {"veldro", "-A"});
    testing::internal::CaptureStdout();
    write_run_header_for_zone(s, describe_zone(state, december_instant));
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(slurp(log), "\n Started Wed Dec  9 10:30:15 2026 Local Time: \n Command line: veldro -A \n");
    EXPECT_EQ(console, "\n Started Wed Dec  9 10:30:15 2026 10:30  (/:UTC0 )\n veldro -A \n\n");
}

}  // namespace
}  // namespace veldro::record
