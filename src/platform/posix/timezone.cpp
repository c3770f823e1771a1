#include "platform/timezone.h"

#include <ctime>

namespace veldro::platform {

ZoneState zone_state(std::int64_t seconds) {
    ::tzset();
    const auto instant = static_cast<std::time_t>(seconds);
    std::tm fields{};
    ::localtime_r(&instant, &fields);
    // The zone variables are read after the conversion: for zones with
    // historical rules the runtime sets them for the instant converted.
    ZoneState zone;
    zone.std_name = ::tzname[0] != nullptr ? ::tzname[0] : "";
    zone.dst_name = ::tzname[1] != nullptr ? ::tzname[1] : "";
    zone.offset_west_seconds = ::timezone;
    zone.uses_daylight = ::daylight != 0;
    zone.daylight_in_force = fields.tm_isdst > 0;
    zone.local = CalendarFields{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                                fields.tm_min,         fields.tm_sec,     fields.tm_wday};
    return zone;
}

}  // namespace veldro::platform
