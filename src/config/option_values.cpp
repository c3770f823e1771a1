#include "config/option_values.h"

#include <climits>
#include <cstdlib>

#include "config/usage.h"
#include "platform/system.h"
#include "util/dates.h"
#include "util/lines.h"
#include "util/numbers.h"
#include "util/run_end.h"
#include "walk/sources.h"

namespace veldro::config {

namespace {

constexpr std::int64_t seconds_per_day = 86400;
constexpr int max_type_file_patterns = 300;
constexpr int max_cutoff_year = 9999;

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::int64_t run_start_seconds(const OptionTarget& s) {
    return s.run_start != 0 ? s.run_start : platform::now_seconds();
}

// A date value that can't serve as a cut-off: why, then ILLEGAL_OPTION.
[[noreturn]] void refuse_date(std::string_view value, const char* why) {
    std::fprintf(stderr, "\nThe date %.*s %s\n", static_cast<int>(value.size()), value.data(), why);
    throw util::RunEnd{ILLEGAL_OPTION};
}

constexpr std::int64_t widest_name_column = 4096;

}  // namespace

int checked_name_width(std::int64_t width) {
    if (width < 0 || width > widest_name_column) {
        std::fprintf(stderr, "\nThe width %lld is out of range: give 1 to %d characters (0 for the widest column)\n",
                     static_cast<long long>(width), static_cast<int>(widest_name_column));
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    return static_cast<int>(width);
}

int name_width_value(std::string_view option, std::string_view text) {
    return checked_name_width(int_value(option, text));
}

bool begins_option(std::string_view arg, paths::Style style) {
    if (arg.empty()) {
        return false;
    }
    return arg[0] == '-' || arg[0] == '+' || (style == paths::Style::windows && arg[0] == '/');
}

// ---- days or date ------------------------------------------------------

int normalise_year(int year) {
    if (year >= 11 && year <= 99) {
        return year + 1900;
    }
    if (year >= 0 && year <= 9) {
        return year + 2000;
    }
    if (year < 1900) {
        return year + 1900;
    }
    return year;
}

bool is_date_form(std::string_view value) {
    return value.find_first_of("-/\\") != std::string_view::npos;
}

std::optional<DateText> parse_date_text(std::string_view value) {
    const std::string copy(value);
    DateText date;
    char first_separator = 0;
    char second_separator = 0;
    // NOLINTNEXTLINE(cert-err34-c): the count of fields read is checked
    if (std::sscanf(copy.c_str(), "%d%c%d%c%d", &date.month, &first_separator, &date.day, &second_separator,
                    &date.year) != 5) {
        return std::nullopt;
    }
    // Four digits first: the year-first form the program's own outputs use.
    if (value.size() > 4 && value.find_first_not_of("0123456789") == 4) {
        date = DateText{date.day, date.year, date.month};
        date.iso = true;
    }
    for (const char c : value) {
        switch (upper(c)) {
            case 'A':
                date.access = true;
                break;
            case 'C':
                date.create = true;
                break;
            case 'W':
                date.write = true;
                break;
            default:
                break;
        }
    }
    return date;
}

void apply_age_value(OptionTarget& s, AgeBound bound, std::string_view value) {
    SelectionOptions& sel = s.selection;
    sel.age_select = true;
    int& days = bound == AgeBound::older ? sel.older_days : sel.younger_days;
    std::uint64_t& cutoff = bound == AgeBound::older ? sel.older_cutoff : sel.younger_cutoff;
    (bound == AgeBound::older ? sel.older_select : sel.younger_select) = true;

    if (!is_date_form(value)) {
        days = int_value("the days", value);
        return;
    }
    const std::optional<DateText> date = parse_date_text(value);
    if (!date) {
        refuse_date(value, "can't be read: give it as mm-dd-yyyy or yyyy-mm-dd");
    }
    const int year = date->iso ? date->year : normalise_year(date->year);
    // An impossible day (02-30) or a day-month swap (25-12-2020) must not
    // roll silently into another date.
    if (!util::is_valid_date(date->month, date->day, year)) {
        std::fprintf(stderr, "%d/%d/%d is not a valid date\n", date->month, date->day, year);
        std::fputs("A date is given as mm-dd-yyyy or yyyy-mm-dd\n", stderr);
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    if (year > max_cutoff_year) {
        refuse_date(value, "lies after the year 9999 and can't be used");
    }
    const std::optional<std::int64_t> midnight = util::calendar_time(date->month, date->day, year, 0, 0, 0);
    if (!midnight) {
        refuse_date(value, "lies before 1970 and can't be used");
    }
    if (date->access) {
        sel.date_use_access = 'a';
    }
    if (date->create) {
        sel.date_use_create = 'a';
    }
    if (date->write) {
        sel.date_use_write = 'a';
    }
    days = static_cast<int>((run_start_seconds(s) - *midnight) / seconds_per_day);
    cutoff = util::time_to_file_time(*midnight);
}

void set_default_cutoffs(OptionTarget& s) {
    SelectionOptions& sel = s.selection;
    sel.date_use_access = 0;
    sel.date_use_create = 0;
    sel.date_use_write = 0;
    if (const auto start = util::calendar_time(1, 1, 1980, 0, 0, 0)) {
        sel.younger_cutoff = util::time_to_file_time(*start);
    }
    const util::CalendarDate now = util::today();
    if (const auto end = util::calendar_time(now.month, now.day, now.year, 23, 59, 59)) {
        sel.older_cutoff = util::time_to_file_time(*end);
    }
}

// ---- destinations ------------------------------------------------------

int drive_index_of(std::string_view internal_path, paths::Style style) {
    if (style != paths::Style::windows) {
        return 0;
    }
    const std::string_view shown = paths::display_path(internal_path);
    if (shown.size() >= 2 && shown[1] == ':' && is_ascii_letter(shown[0])) {
        return upper(shown[0]) - 'A';
    }
    return 0;
}

void set_destination(OptionTarget& s, std::string_view value) {
    // A bare drive (F:) names the drive itself, not the working directory
    // that the system keeps for it.
    const bool bare_drive = paths::native_style == paths::Style::windows && value.size() == 2 && value[1] == ':' &&
                            is_ascii_letter(value[0]);
    s.paths.dest_path = bare_drive ? paths::add_long_prefix(value) : paths::make_long_path(value);
    s.paths.dest_drive_index = drive_index_of(s.paths.dest_path);
}

// ---- input files -------------------------------------------------------

bool read_text_line(std::FILE* file, std::string& line) {
    if (!util::read_raw_line(file, line)) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

void name_list_file(OptionTarget& s, const std::string& name) {
    s.paths.list_file_mode = true;
    s.paths.list_file_path = name;
    s.options.named_files.push_back(NamedFile{NamedFileKind::list_file, name, 0, {}, {}});
}

void read_type_file(OptionTarget& s, const std::string& name) {
    s.selection.type_file_given = true;
    std::FILE* file = platform::open_stream(name, "r");
    if (file == nullptr) {
        throw OptionStop{OptionStop::Page::none, INPUT_FILE, "\nCan't open file extention file " + name};
    }
    std::string line;
    int accepted = 0;
    util::ListReader lines(file, "the file type list");
    while (lines.next(line)) {
        // Lines of fewer than three characters hold no pattern.
        if (line.size() < 3) {
            continue;
        }
        if (++accepted >= max_type_file_patterns) {
            std::fclose(file);
            throw OptionStop{OptionStop::Page::none, INPUT_FILE,
                             "\nMaximum file types allowed for -F option in " + name + " is " +
                                 std::to_string(max_type_file_patterns)};
        }
        walk::add_type_pattern(s, line);
    }
    std::fclose(file);
}

// ---- numbers -----------------------------------------------------------

void refuse_number(std::string_view option, std::string_view value) {
    std::fprintf(stderr, "\nIllegal number for %.*s: %.*s\n", static_cast<int>(option.size()), option.data(),
                 static_cast<int>(value.size()), value.data());
    throw util::RunEnd{ILLEGAL_OPTION};
}

std::int64_t size_value(std::string_view option, std::string_view value) {
    const std::optional<std::int64_t> size = util::parse_size(value);
    if (!size) {
        refuse_number(option, value);
    }
    return *size;
}

int int_value(std::string_view option, std::string_view value) {
    const std::optional<int> number = util::parse_int(value);
    if (!number) {
        refuse_number(option, value);
    }
    return *number;
}

int count_value(std::string_view option, std::string_view value) {
    const int number = int_value(option, value);
    if (number < 0) {
        refuse_number(option, value);
    }
    return number;
}

void refuse_option_value(std::string_view option, std::string_view value) {
    std::fprintf(stderr, "\nIllegal value for %.*s: %.*s\n", static_cast<int>(option.size()), option.data(),
                 static_cast<int>(value.size()), value.data());
    throw util::RunEnd{ILLEGAL_OPTION};
}

std::optional<char> character_code(std::string_view text) {
    const std::optional<int> code = util::parse_int(text);
    if (!code || *code < 1 || *code > UCHAR_MAX) {
        return std::nullopt;
    }
    return static_cast<char>(static_cast<unsigned char>(*code));
}

bool is_time_letter(char letter) {
    return std::string_view("AaCcWw3").find(letter) != std::string_view::npos;
}

std::optional<unsigned> thread_count_value(std::string_view text) {
    const std::optional<int> number = util::parse_int(text);
    if (!number || *number < 1 || *number > static_cast<int>(max_thread_count)) {
        return std::nullopt;
    }
    return static_cast<unsigned>(*number);
}

std::int64_t leading_int64(std::string_view text) {
    const std::string copy(text);
    return std::strtoll(copy.c_str(), nullptr, 10);
}

int leading_int(std::string_view text) {
    const std::int64_t value = leading_int64(text);
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

}  // namespace veldro::config
