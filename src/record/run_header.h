// The run header written at the start of every run: when it started, in
// GMT and local time with the zone and its UTC offset, and the command
// line; on the console, in the default log and in the -E error log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/timezone.h"
#include "run/run.h"

namespace veldro::record {

// The zone part of the header, worked out from the runtime's zone state.
struct ZoneDescription {
    std::string local_text;  // 24 characters: "Wed Dec  9 14:05:33 2026"
    std::string gmt_text;    // the same form of the GMT clock time
    std::string std_name;
    std::string dst_name;
    std::string std_abbrev;     // "PST" for "Pacific Standard Time" and for "PST"
    std::string dst_abbrev;     // empty when the zone has no daylight saving
    bool dst_in_force = false;  // daylight saving applies at the instant of the run
    int utc_hours = 0;          // whole hours east of UTC in force
};

ZoneDescription describe_zone(const platform::ZoneState& zone, std::int64_t now_seconds);

// Three letters, upper-cased: the first character of the name and the
// first after each of its first two blanks; a name without blanks gives
// its first three characters.
std::string zone_abbreviation(std::string_view name);

// Seconds since 1970-01-01 as UTC calendar fields.
platform::CalendarFields utc_calendar(std::int64_t seconds);

// The fixed 24-character calendar form (English names, day padded with a blank).
std::string calendar_text(const platform::CalendarFields& fields);

// Keeps the arguments (the program's path first) for the header: each
// argument followed by a blank.
void set_command_line(OptionTarget& s, const std::vector<std::string>& args);

// Writes the header (nothing at all when silent), then closes the default
// log; later writers reopen it by name. Uses s.logs.command_line, and the
// run's start as the time it started.
void write_run_header(Run& s);
// The same with a zone already described.
void write_run_header_for_zone(Run& s, const ZoneDescription& zone);

}  // namespace veldro::record
