#include "times/file_times.h"

#include "platform/file_system.h"
#include "platform/system.h"
#include "util/dates.h"

namespace veldro::times {

namespace {

using platform::ticks_per_second;
constexpr std::uint64_t ticks_per_day = 86400ULL * ticks_per_second;
constexpr std::int64_t days_1601_to_1970 = platform::seconds_1601_to_1970 / 86400;

bool break_down_one(const platform::FileTime& raw, CalendarParts& parts, bool zulu) {
    const platform::FileTime value = zulu ? raw : to_local_file_time(raw);
    return file_time_to_calendar(value.ticks, parts);
}

void correct(CalendarParts& parts, bool converted) {
    if (parts.hour > 24 || parts.year == 1601 || !converted) {
        parts.hour = 0;
        parts.minute = 0;
        parts.second = 0;
    }
    if (parts.year == 1601) {
        parts.month = 0;
        parts.day = 0;
        parts.year = 1980;
    }
}

bool same_time(const platform::FileTime& a, const platform::FileTime& b) {
    return a == b;
}

}  // namespace

bool file_time_to_calendar(std::uint64_t ticks, CalendarParts& parts) {
    if (ticks >= 0x8000000000000000ULL) {
        return false;
    }
    const auto days = static_cast<std::int64_t>(ticks / ticks_per_day);
    const std::uint64_t in_day = ticks % ticks_per_day;
    const util::CivilDate date = util::civil_from_days(days - days_1601_to_1970);
    parts.year = static_cast<int>(date.year);
    parts.month = date.month;
    parts.day = date.day;
    const std::uint64_t seconds = in_day / ticks_per_second;
    parts.hour = static_cast<int>(seconds / 3600U);
    parts.minute = static_cast<int>((seconds / 60U) % 60U);
    parts.second = static_cast<int>(seconds % 60U);
    parts.millisecond = static_cast<int>((in_day % ticks_per_second) / 10000U);
    return true;
}

platform::FileTime to_local_file_time(platform::FileTime utc) {
    return platform::local_file_time(utc);
}

int break_down_file_times(const platform::FileTimeSet& times, FileTimeFields& fields, bool zulu, BreakDown form) {
    fields = FileTimeFields{};
    fields.raw = times;
    const bool access_ok = break_down_one(times.last_access, fields.last_access, zulu);
    const bool creation_ok = break_down_one(times.creation, fields.creation, zulu);
    const bool write_ok = break_down_one(times.last_write, fields.last_write, zulu);
    if (form == BreakDown::corrected) {
        correct(fields.last_access, access_ok);
        correct(fields.creation, creation_ok);
        correct(fields.last_write, write_ok);
    }
    return (!access_ok && !creation_ok && !write_ok) ? 1 : 0;
}

const platform::FileTime& chosen_time(const platform::FileTimeSet& times, int letter) {
    if (letter == 'A' || letter == 'a') {
        return times.last_access;
    }
    if (letter == 'C' || letter == 'c') {
        return times.creation;
    }
    return times.last_write;
}

Stamp stamp(platform::FileSystem& files, const std::string& path, const platform::FileTimeSet& times) {
    Stamp result;
    result.error = set_file_times(files, path, times, result.creation_set);
    return result;
}

Stamp stamp(const std::string& path, const platform::FileTimeSet& times) {
    platform::NativeFileSystem native;
    return stamp(native, path, times);
}

std::error_code set_file_times(platform::FileSystem& files, const std::string& path, const platform::FileTimeSet& times,
                               bool& creation_set) {
    const std::error_code error = files.set_times(path, times, creation_set);
    if (!error) {
        return {};
    }
    // Read-only and system files refuse new times on some systems: clear
    // those two bits for the while; hidden stays as it is.
    std::uint32_t attributes = 0;
    if (files.get_attributes(path, attributes)) {
        return error;
    }
    const std::uint32_t blocking = platform::attr_readonly | platform::attr_system;
    if ((attributes & blocking) == 0) {
        return error;
    }
    // Should the bits not come off, the second try fails and says why.
    (void)files.set_attributes(path, attributes & ~blocking);
    const std::error_code again = files.set_times(path, times, creation_set);
    // A file left without its read-only or system bit is not as it was
    // found: that failure is the caller's like times that did not take.
    const std::error_code restored = files.set_attributes(path, attributes);
    return again ? again : restored;
}

std::error_code set_file_times(const std::string& path, const platform::FileTimeSet& times, bool& creation_set) {
    platform::NativeFileSystem native;
    return set_file_times(native, path, times, creation_set);
}

std::error_code set_file_times(const std::string& path, const platform::FileTimeSet& times) {
    bool creation_set = false;
    return set_file_times(path, times, creation_set);
}

std::error_code restore_source_times(platform::FileSystem& files, const std::string& path,
                                     const platform::FileTimeSet& times) {
    platform::FindRecord now;
    if (!files.lookup(path, now) && same_time(now.times.last_access, times.last_access) &&
        same_time(now.times.last_write, times.last_write) && same_time(now.times.creation, times.creation)) {
        return {};
    }
    bool creation_set = false;
    return set_file_times(files, path, times, creation_set);
}

std::error_code restore_source_times(const std::string& path, const platform::FileTimeSet& times) {
    platform::NativeFileSystem native;
    return restore_source_times(native, path, times);
}

bool is_zero_dated(const platform::FileTimeSet& times) {
    return times.last_write.ticks == 1 || times.creation.ticks == 1;
}

}  // namespace veldro::times
