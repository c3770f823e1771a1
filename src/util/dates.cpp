#include "util/dates.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <limits>

#include "platform/fs.h"
#include "util/run_end.h"

namespace veldro::util {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, for
// any year (the usual era-based count, exact across century rules).
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t shifted_month = month > 2 ? month - 3 : month + 9;
    const std::int64_t day_of_era_year = (153 * shifted_month + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_era_year;
    return era * 146097 + day_of_era - 719468;
}

// 1900-01-01 has day number 19001: the table of years began at 1900 with
// the entry 19000 (the first year times ten).
constexpr std::int32_t first_day_number = 19001;

bool in_day_range(int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

[[noreturn]] void impossible_date(int month, int day, int year) {
    std::fprintf(stdout, "%d/%d/%d is not a valid date\n", month, day, year);
    throw util::RunEnd{ILLEGAL_OPTION, false};
}

}  // namespace

CivilDate civil_from_days(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = yoe + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

bool is_leap_year(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int month_length(int month, int year) {
    static constexpr std::array<int, 13> common{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    if (month == 2 && is_leap_year(year)) {
        return 29;
    }
    return common.at(static_cast<std::size_t>(month));
}

bool is_valid_date(int month, int day, int year) {
    return in_day_range(month, day) && day <= month_length(month, year);
}

std::optional<int> day_of_year(int month, int day, int year) {
    if (!in_day_range(month, day)) {
        return std::nullopt;
    }
    if (day > month_length(month, year)) {
        impossible_date(month, day, year);
    }
    int ordinal = day;
    for (int m = 1; m < month; ++m) {
        ordinal += month_length(m, year);
    }
    return ordinal;
}

std::int32_t day_number(int month, int day, int year) {
    if (!day_of_year(month, day, year)) {
        return 0;
    }
    const std::int64_t days = days_from_civil(year, month, day) - days_from_civil(1900, 1, 1);
    return static_cast<std::int32_t>(first_day_number + days);
}

CalendarDate today() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);  // NOLINT(concurrency-mt-unsafe): single-threaded program
    if (local == nullptr) {
        return {};
    }
    return {local->tm_mon + 1, local->tm_mday, local->tm_year + 1900};
}

std::optional<std::int64_t> calendar_time(int month, int day, int year, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_mday = day;
    fields.tm_mon = month - 1;
    fields.tm_year = year >= 1900 ? year - 1900 : year;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    // The zone rules of that date decide whether daylight saving applies,
    // so a summer date's midnight is the midnight its clocks showed.
    fields.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds < 0) {
        return std::nullopt;  // before 1970, or not representable (-1)
    }
    return static_cast<std::int64_t>(seconds);
}

std::uint64_t time_to_file_time(std::int64_t calendar_seconds) {
    // Times beyond what a file time can hold (some 29,000 years from now,
    // or before 1601) stay at its ends instead of wrapping around.
    constexpr auto per_second = static_cast<std::int64_t>(platform::ticks_per_second);
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max() / per_second;
    if (calendar_seconds > most) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const std::int64_t ticks = calendar_seconds < -most ? -most * per_second : calendar_seconds * per_second;
    if (ticks < -static_cast<std::int64_t>(platform::epoch_offset_ticks)) {
        return 0;
    }
    return static_cast<std::uint64_t>(ticks) + platform::epoch_offset_ticks;
}

std::string version_text(std::string_view build_date, std::string_view build_time, std::string_view suffix) {
    static constexpr std::array<std::string_view, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto char_at = [](std::string_view text, std::size_t at) { return at < text.size() ? text[at] : '0'; };

    std::string out;
    out += char_at(build_date, 9);
    out += char_at(build_date, 10);
    out += '.';
    std::string month_text = "00";
    for (std::size_t i = 0; i < months.size(); ++i) {
        if (build_date.substr(0, 3) == months.at(i)) {
            std::array<char, 8> digits{};
            std::snprintf(digits.data(), digits.size(), "%02d", static_cast<int>(i + 1));
            month_text = digits.data();
            break;
        }
    }
    out += month_text;
    out += '.';
    const char day_tens = char_at(build_date, 4);
    out += day_tens == ' ' ? '0' : day_tens;
    out += char_at(build_date, 5);
    out += '.';
    out += build_time.substr(0, 5);
    for (char& c : out) {
        if (c == ':') {
            c = '.';
        }
    }
    out += suffix;
    return out;
}

}  // namespace veldro::util
