#include "record/run_header.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/system.h"
#include "record/output_faults.h"
#include "util/dates.h"
#include "util/text.h"

namespace veldro::record {

namespace {

constexpr std::array<const char*, 7> weekday_names{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> month_names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

platform::CalendarFields utc_calendar(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    platform::CalendarFields f;
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest % 3600 / 60);
    f.second = static_cast<int>(rest % 60);
    f.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    const util::CivilDate date = util::civil_from_days(days);
    f.year = static_cast<int>(date.year);
    f.month = date.month;
    f.day = date.day;
    return f;
}

namespace {

// A text the user gave (the command line, the case fields) as a header
// line may carry it: as given, unless it holds a line end, another
// control character or bytes that are not UTF-8, which could end the line
// early or forge one; such a text is written whole in the escaped form of
// names.
std::string header_text(std::string_view text) {
    std::string plain;
    for (const char c : text) {
        if (c == '\\') {
            plain += "\\\\";
        } else if (c == '|') {
            plain += "\\x7C";
        } else {
            plain += c;
        }
    }
    std::string escaped = util::escape_name(text);
    return escaped == plain ? std::string(text) : escaped;
}

// The start lines shared by the default log and the error log, up to and
// including the arguments.
void write_log_start(std::FILE* log, const ZoneDescription& zone, const std::string& arguments) {
    std::fputs("\n Started ", log);
    if (!zone.std_name.empty()) {
        std::fprintf(log, "%s GMT, ", zone.gmt_text.c_str());
        std::fprintf(log, "%.5s %s ", zone.local_text.c_str() + 11, zone.std_name.c_str());
        std::fprintf(log, "(%s/%s:UTC%d%c)", zone.std_abbrev.c_str(), zone.dst_abbrev.c_str(), zone.utc_hours,
                     zone.dst_in_force ? '*' : ' ');
    } else {
        std::fprintf(log, "%s Local Time: ", zone.local_text.c_str());
    }
    std::fputs("\n", log);
    std::fputs(" Command line: ", log);
    std::fputs(header_text(arguments).c_str(), log);
}

void write_console_header(const ZoneDescription& zone, const std::string& arguments) {
    std::fputs("\n Started ", stdout);
    if (!zone.std_name.empty()) {
        std::fprintf(stdout, "%s GMT, ", zone.gmt_text.c_str());
    } else {
        std::fprintf(stdout, "%s ", zone.local_text.c_str());
    }
    std::fprintf(stdout, "%.5s %s ", zone.local_text.c_str() + 11, zone.std_name.c_str());
    std::fprintf(stdout, "(%s/%s:UTC%d%c)", zone.std_abbrev.c_str(), zone.dst_abbrev.c_str(), zone.utc_hours,
                 zone.dst_in_force ? '*' : ' ');
    std::fputs("\n ", stdout);
    std::fputs(header_text(arguments).c_str(), stdout);
    std::fputs("\n\n", stdout);
}

void write_default_log_header(Run& s, const ZoneDescription& zone) {
    std::FILE* log = s.files.default_log;
    if (log == nullptr) {
        return;
    }
    write_log_start(log, zone, s.logs.command_line);
    std::fputs("\n", log);
    const std::array<std::pair<const char*, const std::string*>, 4> case_fields{{{"Case", &s.logs.case_number},
                                                                                 {"Exhibit", &s.logs.exhibit},
                                                                                 {"Examiner", &s.logs.examiner},
                                                                                 {"Notes", &s.logs.notes}}};
    for (const auto& [label, value] : case_fields) {
        if (!value->empty()) {
            std::fprintf(log, " %s: %s\n", label, header_text(*value).c_str());
        }
    }
    if (s.selection.bypass_mode != 0) {
        std::fputs("  **** BYPASS DIRS option used\n", log);
    }
    if (s.paths.dirs_list_mode != 0) {
        std::fputs("  **** DIR LIST option used\n", log);
    }
    if (!s.logs.ini_path.empty() || s.logs.ini_processed != 0) {
        std::fprintf(log, " INI_FILE%s\n END INI FILE\n", s.logs.ini_echo.c_str());
    }
    // Later writers (the summary) reopen the log by its name.
    (void)close_output(s.files, s.files.default_log, s.logs.default_log_path);  // said and kept there
}

void write_error_log_header(Run& s, const ZoneDescription& zone) {
    std::FILE* log = s.files.error_stream;
    if (s.logs.error_file_given == 0 || log == nullptr || log == stderr) {
        return;
    }
    std::fputs("\n************************************************************\n", log);
    write_log_start(log, zone, s.logs.command_line);
    std::fputs("\n\n", log);
    std::fflush(log);
}

}  // namespace

std::string calendar_text(const platform::CalendarFields& f) {
    std::array<char, 64> text{};
    const auto weekday = static_cast<std::size_t>(f.weekday >= 0 && f.weekday < 7 ? f.weekday : 0);
    const auto month = static_cast<std::size_t>(f.month >= 1 && f.month <= 12 ? f.month - 1 : 0);
    std::snprintf(text.data(), text.size(), "%s %s %2d %02d:%02d:%02d %4d", weekday_names.at(weekday),
                  month_names.at(month), f.day, f.hour, f.minute, f.second, f.year);
    return text.data();
}

std::string zone_abbreviation(std::string_view name) {
    std::string out;
    if (name.empty()) {
        return out;
    }
    if (name.find(' ') == std::string_view::npos) {
        out = std::string(name.substr(0, 3));
    } else {
        out.push_back(name.front());
        std::size_t blank = 0;
        for (int taken = 0; taken < 2; ++taken) {
            blank = name.find(' ', blank);
            if (blank == std::string_view::npos) {
                break;
            }
            ++blank;
            if (blank < name.size()) {
                out.push_back(name[blank]);
            }
        }
    }
    return util::to_upper(out);
}

ZoneDescription describe_zone(const platform::ZoneState& zone, std::int64_t now_seconds) {
    ZoneDescription d;
    d.local_text = calendar_text(zone.local);
    // The GMT clock is read from the instant itself rather than by undoing
    // the zone's offsets, so it is right whatever the season.
    d.gmt_text = calendar_text(utc_calendar(now_seconds));
    d.std_name = zone.std_name;
    d.dst_name = zone.dst_name;
    const bool has_daylight = zone.uses_daylight && !zone.dst_name.empty();
    d.std_abbrev = zone_abbreviation(zone.std_name);
    d.dst_abbrev = has_daylight ? zone_abbreviation(zone.dst_name) : std::string();
    // Daylight saving counts only when it applies at this instant: a zone
    // that has it is on standard time half the year.
    d.dst_in_force = has_daylight && zone.daylight_in_force;
    d.utc_hours = static_cast<int>(-(zone.offset_west_seconds / 3600)) + (d.dst_in_force ? 1 : 0);
    return d;
}

void set_command_line(OptionTarget& s, const std::vector<std::string>& args) {
    s.logs.arguments = args;
    s.logs.command_line.clear();
    for (const std::string& arg : args) {
        s.logs.command_line += arg;
        s.logs.command_line += ' ';
    }
}

void write_run_header(Run& s) {
    // The run's own start, which the summaries and the report count from.
    const std::int64_t start = s.progress.start_time;
    write_run_header_for_zone(s, describe_zone(platform::zone_state(start), start));
}

void write_run_header_for_zone(Run& s, const ZoneDescription& zone) {
    if (s.console.silent != 0) {
        return;
    }
    write_console_header(zone, s.logs.command_line);
    write_default_log_header(s, zone);
    write_error_log_header(s, zone);
    std::fflush(stdout);
}

}  // namespace veldro::record
