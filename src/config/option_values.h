// Values shared by the command line, the long options and the INI file:
// days-or-date values, destinations, list and type files, numbers, lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "run/run.h"
#include "util/paths.h"

namespace veldro::config {

// True when an argument begins an option: '-' or '+', and on Windows also
// '/'. On Linux '/' begins an absolute path.
bool begins_option(std::string_view arg, paths::Style style = paths::native_style);

// ---- days or date ------------------------------------------------------

// Two-digit and short years: 11..99 are 1911..1999, 0..9 are 2000..2009,
// any other year below 1900 has 1900 added (10 is 1910).
int normalise_year(int year);

struct DateText {
    int month = 0;
    int day = 0;
    int year = 0;      // as typed, not normalised
    bool iso = false;  // written year first (yyyy-mm-dd): a whole year, never normalised
    bool access = false;
    bool create = false;
    bool write = false;
};

// A value holding '-', '/' or '\' is a date, anything else a day count.
bool is_date_form(std::string_view value);
// Reads "mm-dd-yyyy", or "yyyy-mm-dd" when the value begins with four
// digits (any one separator character between the numbers), and the
// letters A, C, W (either case) found anywhere in the value.
// Gives nothing when three numbers cannot be read.
std::optional<DateText> parse_date_text(std::string_view value);

enum class AgeBound : std::uint8_t { older, younger };

// -g/--OLD/--BEF/INI OLD (older) and -l/--NEW/--YOU/--AFT/INI YOUNG
// (younger): age_select and the bound's select flag are set; a day count
// sets the bound's days; a date sets its days (whole days from the date's
// local midnight to the start of the run) and its cut-off, and the ACW
// flags it names. A date that is impossible, unreadable or before 1970 is
// refused with a message and ILLEGAL_OPTION.
void apply_age_value(OptionTarget& s, AgeBound bound, std::string_view value);

// younger_cutoff = 01-01-1980 00:00:00 and older_cutoff = today 23:59:59,
// both local; the three ACW flags cleared.
void set_default_cutoffs(OptionTarget& s);

// ---- destinations ------------------------------------------------------

// dest_path = the value in internal form, dest_drive_index from its drive
// letter (0 on Linux, which has no drive letters). dest_given is the
// caller's business.
void set_destination(OptionTarget& s, std::string_view value);
int drive_index_of(std::string_view internal_path, paths::Style style = paths::native_style);

// ---- input files -------------------------------------------------------

// -S and --LIS: list-file mode, and the file list named for the run to open
// (it counts the lines into expected_files then; a list that cannot be
// opened ends the run with INPUT_FILE).
void name_list_file(OptionTarget& s, const std::string& name);

// -F: the type patterns of a file, one a line. A file that cannot be opened
// and the 300th pattern end the run with INPUT_FILE.
void read_type_file(OptionTarget& s, const std::string& name);

// One line of a text file without its line end (LF or CR LF); only a real
// line end is removed, so a last line without one keeps every character.
// False at the end of the file.
bool read_text_line(std::FILE* file, std::string& line);

// ---- numbers -----------------------------------------------------------

// A value that is not the number its option needs: the message names the
// option and the value, and the run ends with ILLEGAL_OPTION.
[[noreturn]] void refuse_number(std::string_view option, std::string_view value);
// A byte count (digits with an optional K, M, G or T), else refused.
std::int64_t size_value(std::string_view option, std::string_view value);
// A whole number within int, else refused.
int int_value(std::string_view option, std::string_view value);
// A count: a whole number from 0 up, else refused.
int count_value(std::string_view option, std::string_view value);
// A value that is none of those its option takes: the message names the
// option and the value, and the run ends with ILLEGAL_OPTION.
[[noreturn]] void refuse_option_value(std::string_view option, std::string_view value);

// A delimiter given as its character code (--DEL=9, INI DELIM=124): 1 to
// 255, else nothing; a code that names no character would put NUL bytes or
// another character into the console lines.
std::optional<char> character_code(std::string_view text);

// The times the age and newer tests can use (-T, INI TIME): A last access,
// C created, W last written, either case, and 3 (tests W).
bool is_time_letter(char letter);

// A number of worker threads (--THREADS, THREADS): a whole number from 1
// to 64, else nothing.
std::optional<unsigned> thread_count_value(std::string_view text);

// The integer at the start of the text, as the C library reads it (leading
// blanks and a sign allowed, 0 when there is none).
std::int64_t leading_int64(std::string_view text);
int leading_int(std::string_view text);

// A console width for the name column (-w, -W, --WIDTH=, WIDTH): 1 to 4,096
// characters, or 0 for the widest column. Any other value is an illegal
// option: padding each line to billions of characters is no report.
int name_width_value(std::string_view option, std::string_view text);
// The same range check for a width already read as a number.
int checked_name_width(std::int64_t width);

}  // namespace veldro::config
