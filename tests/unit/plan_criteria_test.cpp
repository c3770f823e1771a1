// Selection criteria: age in calendar days, the date band, sizes and the
// newer test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "plan/criteria.h"
#include "run/run.h"

using veldro::OwnedRun;
using veldro::platform::FileTime;
using veldro::platform::FileTimeSet;
using veldro::platform::FindRecord;

namespace {

constexpr std::uint64_t tick = 10000000ULL;
constexpr std::uint64_t epoch_1970 = 116444736000000000ULL;

FileTime at_unix(std::int64_t seconds) {
    return FileTime{epoch_1970 + static_cast<std::uint64_t>(seconds) * tick, 0};
}

// Local midnight of today plus an offset in seconds.
std::int64_t today_local_midnight() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

FindRecord file_written(std::int64_t unix_seconds, std::uint64_t size = 100) {
    FindRecord r;
    r.times = FileTimeSet{at_unix(unix_seconds), at_unix(unix_seconds), at_unix(unix_seconds)};
    r.size = size;
    return r;
}

TEST(CopyCriteriaAge, CountsCalendarDaysNotPeriodsOf24Hours) {
    const std::int64_t midnight = today_local_midnight();
    const FileTimeSet just_before = file_written(midnight - 60).times;  // yesterday 23:59
    const FileTimeSet just_after = file_written(midnight + 60).times;   // today 00:01
    OwnedRun s;
    EXPECT_EQ(veldro::plan::age_in_days(s, just_before, 'w'), 1);
    EXPECT_EQ(veldro::plan::age_in_days(s, just_after, 'w'), 0);
    EXPECT_EQ(veldro::plan::age_in_days(s, file_written(midnight - 30 * 86400 + 3600).times, 'w'), 30);
    // A file dated in the future is of negative age.
    EXPECT_LT(veldro::plan::age_in_days(s, file_written(midnight + 3 * 86400 + 3600).times, 'w'), 0);
}

TEST(CopyCriteriaAge, DaysFormSelectsTheBandBetweenBothCounts) {
    const std::int64_t midnight = today_local_midnight();
    OwnedRun s;
    s.selection.age_select = true;
    s.selection.older_days = 30;  // -g 30
    EXPECT_TRUE(veldro::plan::passes_age_criteria(s, file_written(midnight - 30 * 86400 + 3600)));
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, file_written(midnight - 29 * 86400 + 3600)));
    s.selection.older_days = 0;
    s.selection.younger_days = 7;  // -l 7
    EXPECT_TRUE(veldro::plan::passes_age_criteria(s, file_written(midnight - 6 * 86400 + 3600)));
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, file_written(midnight - 7 * 86400 + 3600)));
    // Future files fail whenever an age criterion is in force.
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, file_written(midnight + 2 * 86400 + 3600)));
    // Without an age criterion every file passes.
    s.selection.age_select = false;
    EXPECT_TRUE(veldro::plan::passes_age_criteria(s, file_written(midnight + 2 * 86400)));
}

TEST(CopyCriteriaAge, DateFormExcludesBothCutoffsAndAcceptsAnyLetteredTime) {
    OwnedRun s;
    s.selection.age_select = true;
    s.selection.date_use_write = 'w';
    s.selection.younger_cutoff = at_unix(1000).ticks;
    s.selection.older_cutoff = at_unix(2000).ticks;
    // Day counts play no part in the date form.
    s.selection.older_days = 100000;
    EXPECT_TRUE(veldro::plan::passes_age_criteria(s, file_written(1500)));
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, file_written(1000)));
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, file_written(2000)));

    FindRecord accessed_inside = file_written(5000);
    accessed_inside.times.last_access = at_unix(1500);
    EXPECT_FALSE(veldro::plan::passes_age_criteria(s, accessed_inside));
    s.selection.date_use_access = 'a';
    EXPECT_TRUE(veldro::plan::passes_age_criteria(s, accessed_inside));
}

TEST(CopyCriteriaSize, BothLimitsIncludeTheirOwnValue) {
    OwnedRun s;
    s.selection.greater_select = true;
    s.selection.greater_size = 100;
    EXPECT_TRUE(veldro::plan::passes_size_criteria(s, file_written(0, 100)));
    EXPECT_FALSE(veldro::plan::passes_size_criteria(s, file_written(0, 99)));
    s.selection.greater_select = false;
    s.selection.less_select = true;
    s.selection.less_size = 100;
    EXPECT_TRUE(veldro::plan::passes_size_criteria(s, file_written(0, 100)));
    EXPECT_FALSE(veldro::plan::passes_size_criteria(s, file_written(0, 101)));
}

TEST(CopyCriteriaNewer, ComparesTheChosenTimesExactly) {
    OwnedRun s;
    const FindRecord source = file_written(5000);
    FindRecord same = file_written(5000);
    FindRecord older = file_written(4999);
    FindRecord newer = file_written(5001);
    EXPECT_EQ(veldro::plan::newer_difference(s, source, &same), 0);
    EXPECT_EQ(veldro::plan::newer_difference(s, source, &older), static_cast<std::int64_t>(tick));
    EXPECT_LT(veldro::plan::newer_difference(s, source, &newer), 0);
    // One 100-ns unit decides.
    newer.times.last_write.ticks = source.times.last_write.ticks + 1;
    EXPECT_EQ(veldro::plan::newer_difference(s, source, &newer), -1);
    // No destination: always newer, even for a time of 0.
    EXPECT_GT(veldro::plan::newer_difference(s, source, nullptr), 0);
    FindRecord unknown;
    s.selection.time_field = 'c';
    EXPECT_GT(veldro::plan::newer_difference(s, unknown, nullptr), 0);
}

TEST(CopyCriteriaNewer, TimeFieldChoosesTheTimeCompared) {
    OwnedRun s;
    FindRecord source = file_written(5000);
    FindRecord dest = file_written(5000);
    dest.times.last_access = at_unix(6000);
    EXPECT_EQ(veldro::plan::newer_difference(s, source, &dest), 0);
    s.selection.time_field = 'A';
    EXPECT_LT(veldro::plan::newer_difference(s, source, &dest), 0);
}

TEST(CopyCriteriaNewer, ZeroDatedSourceCountsAsNewerOnlyWithZero) {
    OwnedRun s;
    FindRecord source = file_written(5000);
    source.times.last_write = FileTime{1, 0};
    const FindRecord dest = file_written(9000);
    EXPECT_LT(veldro::plan::newer_difference(s, source, &dest), 0);
    s.copy.zero_dates = true;
    EXPECT_EQ(veldro::plan::newer_difference(s, source, &dest), 1);
}

}  // namespace
