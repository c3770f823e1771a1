// Day numbers, calendar and file times, and the version text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "test_files.h"
#include "util/dates.h"

namespace util = veldro::util;

namespace {

// The day numbers the year table gave, rebuilt the way the table was:
// 19000 for 1900, then each year's entry is the one before plus its length.
std::int32_t table_day_number(int month, int day, int year) {
    std::int32_t entry = 19000;
    for (int y = 1900; y < year; ++y) {
        entry += util::is_leap_year(y) ? 366 : 365;
    }
    return entry + *util::day_of_year(month, day, year);
}

TEST(DatesTest, LeapYears) {
    EXPECT_TRUE(util::is_leap_year(2000));   // divisible by 400
    EXPECT_FALSE(util::is_leap_year(1900));  // divisible by 100 only
    EXPECT_TRUE(util::is_leap_year(2020));
    EXPECT_FALSE(util::is_leap_year(2021));
    EXPECT_TRUE(util::is_valid_date(2, 29, 2000));
    EXPECT_FALSE(util::is_valid_date(2, 29, 1900));
    EXPECT_TRUE(util::is_valid_date(2, 29, 2020));
    EXPECT_FALSE(util::is_valid_date(2, 29, 2019));
    EXPECT_FALSE(util::is_valid_date(4, 31, 2021));
    EXPECT_FALSE(util::is_valid_date(13, 1, 2021));
    EXPECT_FALSE(util::is_valid_date(0, 1, 2021));
    EXPECT_FALSE(util::is_valid_date(1, 0, 2021));
}

TEST(DatesTest, DayOfYear) {
    EXPECT_EQ(util::day_of_year(1, 1, 2021), 1);
    EXPECT_EQ(util::day_of_year(12, 31, 2021), 365);
    EXPECT_EQ(util::day_of_year(12, 31, 2020), 366);
    EXPECT_EQ(util::day_of_year(3, 1, 2000), 61);
    EXPECT_EQ(util::day_of_year(3, 1, 1900), 60);
    // Out of range: no result, no message.
    EXPECT_FALSE(util::day_of_year(13, 1, 2021));
    EXPECT_FALSE(util::day_of_year(1, 32, 2021));
}

TEST(DatesTest, DayNumbersOfTheTableYears) {
    EXPECT_EQ(util::day_number(1, 1, 1900), 19001);
    EXPECT_EQ(util::day_number(12, 31, 1900), 19365);
    EXPECT_EQ(util::day_number(1, 1, 1901), 19366);
    for (int year = 1900; year <= 2021; ++year) {
        for (const auto& [month, day] : {std::pair{1, 1}, std::pair{2, 28}, std::pair{7, 15}, std::pair{12, 31}}) {
            ASSERT_EQ(util::day_number(month, day, year), table_day_number(month, day, year))
                << month << "/" << day << "/" << year;
        }
    }
}

TEST(DatesTest, DayNumbersAreContinuousBeyondTheTable) {
    // Every day from 1601 to 2100 is one more than the day before, across
    // the 2021 edge and every century rule.
    std::int32_t previous = util::day_number(12, 31, 1600);
    for (int year = 1601; year <= 2100; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= util::month_length(month, year); ++day) {
                const std::int32_t n = util::day_number(month, day, year);
                ASSERT_EQ(n, previous + 1) << month << "/" << day << "/" << year;
                previous = n;
            }
        }
    }
    EXPECT_EQ(util::day_number(1, 1, 2000) - util::day_number(12, 31, 1999), 1);
    EXPECT_EQ(util::day_number(1, 1, 2022) - util::day_number(12, 31, 2021), 1);
    EXPECT_EQ(util::day_number(1, 1, 2100) - util::day_number(1, 1, 2000), 36525);
}

TEST(DatesTest, DayNumberOutOfRangeIsZero) {
    EXPECT_EQ(util::day_number(13, 1, 2021), 0);
    EXPECT_EQ(util::day_number(1, 32, 2021), 0);
}

TEST(DatesDeathTest, ImpossibleDateEndsWithStatusSix) {
    EXPECT_EXIT(veldro::ending_run([&] { util::day_number(2, 30, 2021); }), ::testing::ExitedWithCode(6), "");
    EXPECT_EXIT(veldro::ending_run([&] { util::day_of_year(2, 29, 2019); }), ::testing::ExitedWithCode(6), "");
}

TEST(DatesTest, TodayIsADayOldZero) {
    const util::CalendarDate now = util::today();
    EXPECT_TRUE(util::is_valid_date(now.month, now.day, now.year));
    EXPECT_GE(now.year, 2020);
    EXPECT_EQ(util::day_number(now.month, now.day, now.year) - util::day_number(now.month, now.day, now.year), 0);
}

TEST(DatesTest, FileTimeArithmetic) {
    EXPECT_EQ(util::time_to_file_time(0), 116444736000000000ULL);
    EXPECT_EQ(util::time_to_file_time(1), 116444736010000000ULL);
    // Beyond either end a file time stays at that end instead of wrapping.
    EXPECT_EQ(util::time_to_file_time(INT64_MAX), UINT64_MAX);
    EXPECT_EQ(util::time_to_file_time(INT64_MIN), 0U);
    EXPECT_EQ(util::time_to_file_time(-11644473601), 0U);
    EXPECT_EQ(util::time_to_file_time(86400) - util::time_to_file_time(0), 864000000000ULL);
    // 2038 and beyond need all 64 bits of the seconds.
    EXPECT_EQ(util::time_to_file_time(4102444800LL), 116444736000000000ULL + 4102444800ULL * 10000000ULL);
}

class LocalZone : public ::testing::Test {
protected:
    void use_zone(const char* zone) {
        ::setenv("TZ", zone, 1);  // NOLINT(concurrency-mt-unsafe)
        ::tzset();
    }
    void SetUp() override {
        const char* old = std::getenv("TZ");  // NOLINT(concurrency-mt-unsafe)
        had_zone_ = old != nullptr;
        if (had_zone_) {
            old_zone_ = old;
        }
    }
    void TearDown() override {
        if (had_zone_) {
            ::setenv("TZ", old_zone_.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
        } else {
            ::unsetenv("TZ");  // NOLINT(concurrency-mt-unsafe)
        }
        ::tzset();
    }
    bool had_zone_ = false;
    std::string old_zone_;
};

TEST_F(LocalZone, CalendarTimeInUtc) {
    use_zone("UTC0");
    EXPECT_EQ(util::calendar_time(1, 1, 1970, 0, 0, 0), 0);
    EXPECT_EQ(util::calendar_time(1, 1, 1980, 0, 0, 0), 315532800);
    EXPECT_EQ(util::calendar_time(3, 24, 2022, 9, 44, 53), 1648115093);
    // A year below 1900 counts from 1900: 122 is 2022.
    EXPECT_EQ(util::calendar_time(3, 24, 122, 9, 44, 53), 1648115093);
}

TEST_F(LocalZone, CalendarTimeUsesTheRulesOfThatDate) {
    // Central Europe: an hour ahead in winter, two in summer. Midnight of a
    // summer date is 22:00 UTC the day before, whatever today's offset is.
    use_zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(util::calendar_time(1, 15, 2021, 0, 0, 0), 1610665200);  // 2021-01-14 23:00 UTC
    EXPECT_EQ(util::calendar_time(7, 15, 2021, 0, 0, 0), 1626300000);  // 2021-07-14 22:00 UTC
}

TEST_F(LocalZone, DatesBefore1970AreRefused) {
    use_zone("UTC0");
    EXPECT_FALSE(util::calendar_time(12, 31, 1969, 23, 59, 59));
    EXPECT_FALSE(util::calendar_time(1, 1, 1960, 0, 0, 0));
    // East of Greenwich, local midnight of 1970-01-01 is still 1969 in UTC.
    use_zone("CET-1");
    EXPECT_FALSE(util::calendar_time(1, 1, 1970, 0, 0, 0));
    EXPECT_EQ(util::calendar_time(1, 1, 1970, 1, 0, 0), 0);
}

TEST(DatesTest, VersionText) {
    EXPECT_EQ(util::version_text("Mar 24 2022", "09:44:53"), "22.03.24.09.44");
    EXPECT_EQ(util::version_text("Mar  4 2022", "09:44:53"), "22.03.04.09.44");
    EXPECT_EQ(util::version_text("Dec 31 1999", "23:59:59", " (x)"), "99.12.31.23.59 (x)");
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m) {
        const std::string text = util::version_text(std::string(months[m]) + " 01 2030", "00:00:00");
        char expected[3] = {static_cast<char>('0' + (m + 1) / 10), static_cast<char>('0' + (m + 1) % 10), '\0'};
        EXPECT_EQ(text.substr(3, 2), expected) << months[m];
    }
    // A short or unknown text gives a text of the same shape, never a crash.
    EXPECT_EQ(util::version_text("", "").size(), 9U);
    EXPECT_EQ(util::version_text("Foo 01 2030", "12:00").substr(3, 2), "00");
}

}  // namespace
