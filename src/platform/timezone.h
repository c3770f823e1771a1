// The runtime's time-zone state (the TZ variable, else the system's zone)
// and local calendar fields of an instant.
#pragma once

#include <cstdint>
#include <string>

namespace veldro::platform {

// Broken-down calendar time.
struct CalendarFields {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday
};

struct ZoneState {
    std::string std_name;                  // the standard zone name ("PST", "Pacific Standard Time")
    std::string dst_name;                  // the daylight name; may be empty
    std::int64_t offset_west_seconds = 0;  // standard time's offset west of UTC
    bool uses_daylight = false;            // the zone has daylight-saving rules
    bool daylight_in_force = false;        // daylight saving applies at the instant asked about
    CalendarFields local;                  // the instant in local time
};

// Reads the zone state afresh (so a changed TZ is honoured) and describes
// the instant `seconds` (since 1970-01-01 UTC) in it.
ZoneState zone_state(std::int64_t seconds);

}  // namespace veldro::platform
