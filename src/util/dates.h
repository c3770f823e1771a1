// Calendar dates: day numbers for age arithmetic, local calendar times and
// file times for the date options, and the dotted version text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veldro::util {

// A date of the proleptic Gregorian calendar.
struct CivilDate {
    std::int64_t year = 1970;
    int month = 1;
    int day = 1;
};

// The date that lies `days` days after 1970-01-01 (before it when negative).
CivilDate civil_from_days(std::int64_t days);

bool is_leap_year(int year);
// Days in a month (1..12) of a year; 0 for a month outside 1..12.
int month_length(int month, int year);

// A date that names a real day (month 1..12, day 1..length of the month).
bool is_valid_date(int month, int day, int year);

// The ordinal of a date in its year (1..366). Gives nothing for a month
// outside 1..12 or a day outside 1..31. A day past the end of its month is
// an impossible date: "%d/%d/%d is not a valid date\n" and the program ends
// at once with status 6, without a summary.
std::optional<int> day_of_year(int month, int day, int year);

// A running day count: 1900-01-01 is 19001, and consecutive days differ by
// one for every year from 1601 on, so the age of a date in days is a
// subtraction. 0 for a month outside 1..12 or a day outside 1..31; an
// impossible date ends the program as day_of_year does.
std::int32_t day_number(int month, int day, int year);

struct CalendarDate {
    int month = 1;
    int day = 1;
    int year = 1970;
};
// Today's local calendar date.
CalendarDate today();

// Calendar seconds since 1970-01-01 00:00:00 UTC of a local date and time,
// under the zone rules in force on that date. A year below 1900 is taken as
// counted from 1900. Gives nothing when the runtime cannot represent the
// instant or it lies before 1970-01-01 00:00:00 UTC (the Windows runtime
// cannot go below it; both builds refuse the same dates).
std::optional<std::int64_t> calendar_time(int month, int day, int year, int hour, int minute, int second);

// Calendar seconds to a file time (100-ns ticks since 1601, UTC).
std::uint64_t time_to_file_time(std::int64_t calendar_seconds);

// The dotted version text from a build date "Mmm dd yyyy" and a build time
// "hh:mm:ss", followed by `suffix`: "Mar 24 2022", "09:44:53" give
// "22.03.24.09.44".
std::string version_text(std::string_view build_date, std::string_view build_time, std::string_view suffix = {});

}  // namespace veldro::util
