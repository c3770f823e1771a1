#include "platform/timezone.h"

#include <windows.h>

#include <ctime>
#include <string>

#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

// The runtime keeps the zone names in the ANSI code page.
std::string ansi_to_utf8(const char* text) {
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return win32::from_wide(wide);
}

}  // namespace

ZoneState zone_state(std::int64_t seconds) {
    _tzset();
    const auto instant = static_cast<__time64_t>(seconds);
    std::tm fields{};
    _localtime64_s(&fields, &instant);
    ZoneState zone;
    zone.std_name = ansi_to_utf8(_tzname[0]);
    zone.dst_name = ansi_to_utf8(_tzname[1]);
    zone.offset_west_seconds = _timezone;
    zone.uses_daylight = _daylight != 0;
    zone.daylight_in_force = fields.tm_isdst > 0;
    zone.local = CalendarFields{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                                fields.tm_min,         fields.tm_sec,     fields.tm_wday};
    return zone;
}

}  // namespace veldro::platform
