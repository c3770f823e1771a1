// File times: breaking down for the logs, converting to local time,
// comparing, and writing them onto copies and sources.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs.h"

namespace veldro::times {

// One time broken down into calendar fields.
struct CalendarParts {
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// A file's times broken down for reporting (local time unless zulu), with
// the raw times they came from.
struct FileTimeFields {
    CalendarParts last_write;
    CalendarParts last_access;
    CalendarParts creation;
    platform::FileTimeSet raw;
};

// Which corrections break_down_file_times applies.
enum class BreakDown : std::uint8_t {
    // Times of a file looked up by path: an hour beyond 24, the year 1601
    // (an empty time) or a failed conversion show as 00:00:00, and 1601 as
    // the date 00/00/1980.
    corrected,
    // Times straight from the entry the walk delivered: as they convert.
    as_found,
};

// A file time in calendar fields (UTC); false for times beyond the
// calendar the system converts (the top bit set).
bool file_time_to_calendar(std::uint64_t ticks, CalendarParts& parts);

// The local time of a file time.
platform::FileTime to_local_file_time(platform::FileTime utc);

// Fills `fields` from the three times; returns 1 only when all three
// conversions failed.
int break_down_file_times(const platform::FileTimeSet& times, FileTimeFields& fields, bool zulu,
                          BreakDown form = BreakDown::corrected);

// The time chosen by a letter: 'A'/'a' last access, 'C'/'c' creation,
// anything else last write.
const platform::FileTime& chosen_time(const platform::FileTimeSet& times, int letter);

// What stamping a file with its times did.
struct Stamp {
    std::error_code error;      // empty when the times are on the file
    bool creation_set = false;  // its creation time too
};

// Stamps a copy (or a stream file) with its source's times: the one routine
// every road uses, the tree, the file list, the retries and the streams.
Stamp stamp(const std::string& path, const platform::FileTimeSet& times);
Stamp stamp(platform::FileSystem& files, const std::string& path, const platform::FileTimeSet& times);

// Writes the three times onto the file at `path`. Read-only and system
// attributes are cleared for the while and put back; hidden is never
// touched. No error when the times were written, else the system's reason.
// `creation_set` tells whether the creation time could be written too.
std::error_code set_file_times(const std::string& path, const platform::FileTimeSet& times, bool& creation_set);
std::error_code set_file_times(const std::string& path, const platform::FileTimeSet& times);
std::error_code set_file_times(platform::FileSystem& files, const std::string& path, const platform::FileTimeSet& times,
                               bool& creation_set);

// Puts a source's times back as they were found: writes only when they
// differ now, so that an untouched source is not touched by the writing
// either. No error on success (or nothing to do), else the reason they
// could not be written.
std::error_code restore_source_times(const std::string& path, const platform::FileTimeSet& times);
std::error_code restore_source_times(platform::FileSystem& files, const std::string& path,
                                     const platform::FileTimeSet& times);

// A raw creation or last-write time of exactly 1 marks a file whose dates
// an extraction tool emptied.
bool is_zero_dated(const platform::FileTimeSet& times);

}  // namespace veldro::times
