// File times: calendar conversion, the two breakdown forms, local time,
// zero dates, and writing times to the nanosecond.
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_file_system.h"
#include "platform/fs.h"
#include "work/directory_times.h"

namespace fs = std::filesystem;
using veldro::platform::FileTime;
using veldro::platform::FileTimeSet;
using veldro::times::BreakDown;
using veldro::times::CalendarParts;
using veldro::times::FileTimeFields;

namespace {

constexpr std::uint64_t tick = 10000000ULL;  // one second
constexpr std::uint64_t epoch_1970 = 116444736000000000ULL;

FileTime at_unix(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
    return FileTime{epoch_1970 + static_cast<std::uint64_t>(seconds) * tick + nanoseconds / 100, nanoseconds % 100};
}

// Runs a test body under a fixed zone, restoring the caller's afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (had_) {
            ::setenv("TZ", old_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

void expect_parts(const CalendarParts& p, int year, int month, int day, int hour, int minute, int second, int milli) {
    EXPECT_EQ(p.year, year);
    EXPECT_EQ(p.month, month);
    EXPECT_EQ(p.day, day);
    EXPECT_EQ(p.hour, hour);
    EXPECT_EQ(p.minute, minute);
    EXPECT_EQ(p.second, second);
    EXPECT_EQ(p.millisecond, milli);
}

TEST(CopyTimesCalendar, ConvertsKnownInstants) {
    CalendarParts p;
    ASSERT_TRUE(veldro::times::file_time_to_calendar(0, p));
    expect_parts(p, 1601, 1, 1, 0, 0, 0, 0);
    ASSERT_TRUE(veldro::times::file_time_to_calendar(epoch_1970, p));
    expect_parts(p, 1970, 1, 1, 0, 0, 0, 0);
    // 2000-02-29 23:59:59.999 (a leap day of a year divisible by 400).
    ASSERT_TRUE(veldro::times::file_time_to_calendar(at_unix(951868799, 999000000).ticks, p));
    expect_parts(p, 2000, 2, 29, 23, 59, 59, 999);
    // Past 2038 and far into the future.
    ASSERT_TRUE(veldro::times::file_time_to_calendar(at_unix(4102444800).ticks, p));
    expect_parts(p, 2100, 1, 1, 0, 0, 0, 0);
    // The calendar the system converts ends where the top bit begins.
    EXPECT_FALSE(veldro::times::file_time_to_calendar(0x8000000000000000ULL, p));
}

TEST(CopyTimesBreakDown, CorrectedFormShowsEmptyTimesAsNineteenEighty) {
    ZoneGuard zone("UTC0");
    FileTimeSet times{FileTime{0, 0}, FileTime{1, 0}, at_unix(86400 + 3723)};
    FileTimeFields fields;
    EXPECT_EQ(veldro::times::break_down_file_times(times, fields, false, BreakDown::corrected), 0);
    expect_parts(fields.creation, 1980, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(fields.last_access.year, 1980);
    EXPECT_EQ(fields.last_access.month, 0);
    expect_parts(fields.last_write, 1970, 1, 2, 1, 2, 3, 0);
    EXPECT_EQ(fields.raw.creation.ticks, 0U);
    EXPECT_EQ(fields.raw.last_access.ticks, 1U);

    // The entry's own form reports the times as they convert.
    EXPECT_EQ(veldro::times::break_down_file_times(times, fields, false, BreakDown::as_found), 0);
    expect_parts(fields.creation, 1601, 1, 1, 0, 0, 0, 0);
}

TEST(CopyTimesBreakDown, ZuluKeepsUtcAndLocalFollowsTheZoneOfThatInstant) {
    ZoneGuard zone("EST5EDT,M3.2.0,M11.1.0");
    // 2021-07-01 12:00:00 UTC is 08:00 EDT; 2021-01-01 12:00 UTC is 07:00 EST.
    const FileTime summer = at_unix(1625140800);
    const FileTime winter = at_unix(1609502400);
    FileTimeSet times{winter, summer, summer};
    FileTimeFields local;
    FileTimeFields utc;
    veldro::times::break_down_file_times(times, local, false, BreakDown::as_found);
    veldro::times::break_down_file_times(times, utc, true, BreakDown::as_found);
    EXPECT_EQ(utc.last_write.hour, 12);
    EXPECT_EQ(local.last_write.hour, 8);
    EXPECT_EQ(local.creation.hour, 7);
    EXPECT_EQ(veldro::times::to_local_file_time(summer).ticks, summer.ticks - 4 * 3600 * tick);
    // The nanoseconds below one tick travel with the converted time.
    EXPECT_EQ(veldro::times::to_local_file_time(FileTime{summer.ticks, 42}).extra_ns, 42U);
}

TEST(CopyTimesZeroDate, ReplacementIsChristmas1601AtEight) {
    CalendarParts p;
    ASSERT_TRUE(veldro::times::file_time_to_calendar(veldro::platform::zero_date_time.ticks, p));
    expect_parts(p, 1601, 12, 25, 8, 0, 0, 0);
    EXPECT_TRUE(veldro::times::is_zero_dated(FileTimeSet{FileTime{1, 0}, at_unix(5), at_unix(5)}));
    EXPECT_TRUE(veldro::times::is_zero_dated(FileTimeSet{at_unix(5), at_unix(5), FileTime{1, 0}}));
    // A last-access time of 1 does not mark a zero-dated file.
    EXPECT_FALSE(veldro::times::is_zero_dated(FileTimeSet{at_unix(5), FileTime{1, 0}, at_unix(5)}));
}

TEST(CopyTimesChoice, LettersPickTheirTime) {
    const FileTimeSet times{at_unix(1), at_unix(2), at_unix(3)};
    EXPECT_EQ(veldro::times::chosen_time(times, 'c'), times.creation);
    EXPECT_EQ(veldro::times::chosen_time(times, 'A'), times.last_access);
    EXPECT_EQ(veldro::times::chosen_time(times, 'w'), times.last_write);
    EXPECT_EQ(veldro::times::chosen_time(times, '3'), times.last_write);
}

// The read-only bit taken off for new times must go back on: a bit that
// cannot is the caller's failure (a source not left as found), like times
// that did not take.
TEST(CopyTimesReadOnly, ABitThatCannotGoBackIsAFailure) {
    using veldro::test::FsOp;
    veldro::test::FakeFileSystem fake;
    fake.add("/f", "data").record.attributes = veldro::platform::attr_readonly;
    fake.fail(FsOp::set_times, 1, std::errc::operation_not_permitted);
    fake.fail(FsOp::set_attributes, 2, std::errc::io_error);
    const FileTimeSet times{at_unix(1000), at_unix(2000), at_unix(3000)};
    bool creation_set = false;
    EXPECT_TRUE(veldro::times::set_file_times(fake, "/f", times, creation_set) == std::errc::io_error);
    EXPECT_EQ(fake.nodes.at("/f").record.times.last_write, times.last_write);
}

class CopyTimesOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veldro_times_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = (dir_ / "f.txt").string();
        std::ofstream(file_) << "data";
    }
    void TearDown() override {
        fs::permissions(file_, fs::perms::owner_write, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    static struct stat stat_of(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0);
        return st;
    }
    fs::path dir_;
    std::string file_;
};

TEST_F(CopyTimesOnDisk, TimesAreWrittenToTheNanosecond) {
    const FileTimeSet times{at_unix(1000), at_unix(1500000000, 123456789), at_unix(1400000000, 987654321)};
    bool creation_set = true;
    ASSERT_FALSE(veldro::times::set_file_times(file_, times, creation_set));
    const struct stat st = stat_of(file_);
    EXPECT_EQ(st.st_atim.tv_sec, 1500000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 123456789);
    EXPECT_EQ(st.st_mtim.tv_sec, 1400000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);

    veldro::platform::FindRecord record;
    ASSERT_FALSE(veldro::platform::lookup_path(file_, record));
    EXPECT_EQ(record.times.last_access, times.last_access);
    EXPECT_EQ(record.times.last_write, times.last_write);
}

TEST_F(CopyTimesOnDisk, ReadOnlyFileTakesTimesAndStaysReadOnly) {
    fs::permissions(file_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const FileTimeSet times{at_unix(1000), at_unix(2000), at_unix(3000)};
    ASSERT_FALSE(veldro::times::set_file_times(file_, times));
    const struct stat st = stat_of(file_);
    EXPECT_EQ(st.st_mtim.tv_sec, 3000);
    EXPECT_EQ(st.st_mode & S_IWUSR, 0U);
    std::uint32_t attributes = 0;
    ASSERT_FALSE(veldro::platform::get_attributes(file_, attributes));
    EXPECT_NE(attributes & veldro::platform::attr_readonly, 0U);
}

TEST_F(CopyTimesOnDisk, RestoringUnchangedTimesWritesNothing) {
    const FileTimeSet times{at_unix(1000), at_unix(2000, 5), at_unix(3000, 7)};
    ASSERT_FALSE(veldro::times::set_file_times(file_, times));
    veldro::platform::FindRecord found;
    ASSERT_FALSE(veldro::platform::lookup_path(file_, found));
    const struct stat before = stat_of(file_);
    // The change time moves with any write of times: it must stay put.
    struct timespec pause {
        0, 20000000
    };
    ::nanosleep(&pause, nullptr);
    EXPECT_FALSE(veldro::times::restore_source_times(file_, found.times));
    const struct stat after = stat_of(file_);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);

    // Moved times are put back.
    FileTimeSet moved = found.times;
    moved.last_access = at_unix(9999);
    ASSERT_FALSE(veldro::times::set_file_times(file_, moved));
    EXPECT_FALSE(veldro::times::restore_source_times(file_, found.times));
    EXPECT_EQ(stat_of(file_).st_atim.tv_sec, 2000);
}

TEST_F(CopyTimesOnDisk, MissingDirectoryReportsTheHandleMessage) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(veldro::work::set_directory_times((dir_ / "nowhere").string(), FileTimeSet{}),
              std::errc::no_such_file_or_directory);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("394 .\\get_dtim_u: Can't get handle to reset the date\\time for directory"), std::string::npos)
        << err;
}

}  // namespace
