#include "config/options.h"

#include <cstdio>
#include <string_view>

#include "config/ini.h"
#include "config/long_options.h"
#include "config/memo.h"
#include "config/option_table.h"
#include "config/option_values.h"
#include "config/usage.h"
#include "platform/system.h"
#include "record/log_set.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/sources.h"

namespace veldro::config {

namespace {

constexpr bool slash_begins_option = paths::native_style == paths::Style::windows;

// What a value that begins with '-' means for a letter.
enum class DashRule : std::uint8_t { allowed, fatal, usage };
// What a missing value means for a letter.
enum class MissingRule : std::uint8_t { fatal, usage };

// The walk over the option arguments.
struct ArgumentScan {
    const std::vector<std::string>& args;
    std::size_t current = 0;  // the argument whose letters are read
    std::size_t letter = 0;   // the letter being handled
    std::size_t next = 0;     // the first argument not consumed yet
    bool rest_taken = false;  // a letter took the rest of the argument
    bool plus = false;        // the argument began with '+'

    [[nodiscard]] const std::string& arg() const { return args[current]; }
    [[nodiscard]] std::string_view rest() const { return std::string_view(arg()).substr(letter + 1); }
};

[[noreturn]] void bad_command_line(MissingRule rule) {
    if (rule == MissingRule::usage) {
        throw OptionStop{OptionStop::Page::usage, ILLEGAL_OPTION, {}};
    }
    throw util::RunEnd{ILLEGAL_OPTION};
}

// A letter without its value (none follows, or the next argument is an
// option): where the letter does not show the usage, the message names the
// letter and what it needs.
[[noreturn]] void missing_value(const ArgumentScan& scan, MissingRule rule, const char* what) {
    if (rule == MissingRule::fatal) {
        std::fprintf(stderr, "\nThe option -%c lacks its value: %s\n", scan.arg()[scan.letter], what);
    }
    bad_command_line(rule);
}

// A letter's value: the rest of its argument when anything follows the
// letter, else the next argument, which is consumed. `what` says what the
// value is, for the message when it is missing.
std::string take_value(ArgumentScan& scan, bool skip_equals, DashRule dash, MissingRule missing, const char* what) {
    std::string_view rest = scan.rest();
    if (skip_equals && !rest.empty() && rest.front() == '=') {
        rest.remove_prefix(1);
    }
    scan.rest_taken = true;
    if (!rest.empty()) {
        return std::string(rest);
    }
    // An empty argument is no value either: "-d ''" must not quietly mean
    // the working directory.
    if (scan.next >= scan.args.size() || scan.args[scan.next].empty()) {
        missing_value(scan, missing, what);
    }
    const std::string& value = scan.args[scan.next];
    if (dash != DashRule::allowed && !value.empty() && value.front() == '-') {
        missing_value(scan, dash == DashRule::usage ? MissingRule::usage : MissingRule::fatal, what);
    }
    ++scan.next;
    return value;
}

// The arguments after the current one, up to one that begins with '-' or
// '+' (or '/', where that begins an option and `slash_stops`).
std::vector<std::string> take_list(ArgumentScan& scan, bool slash_stops) {
    std::vector<std::string> items;
    while (scan.next < scan.args.size()) {
        const std::string& a = scan.args[scan.next];
        if (!a.empty() && (a[0] == '-' || a[0] == '+' || (slash_stops && a[0] == '/'))) {
            break;
        }
        ++scan.next;
        if (!a.empty()) {
            items.push_back(a);
        }
    }
    return items;
}

// ---- letters with more to do -------------------------------------------

void take_attribute_modifiers(ArgumentScan& scan, OptionTarget& s) {
    const std::string_view modifiers = scan.rest();
    scan.rest_taken = true;
    if (modifiers.empty()) {
        std::fputs("\n-a option needs a modifier [erhms]\n", stderr);
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    SelectionOptions& sel = s.selection;
    sel.attr_filter = true;
    for (const char c : modifiers) {
        switch (c) {
            case 'D':
                sel.attr_dir_count += 2;
                break;
            case 'd':
                sel.attr_dir_count += 1;
                break;
            case 'E':
            case 'e':
                sel.attr_encrypted = true;
                break;
            case 'H':
            case 'h':
                sel.attr_hidden = true;
                break;
            case 'M':
            case 'm':
                sel.attr_archive = true;
                break;
            case 'R':
            case 'r':
                sel.attr_readonly = true;
                break;
            case 'S':
            case 's':
                sel.attr_system = true;
                break;
            default:
                break;
        }
    }
}

// -D: on Windows a drive designation with its ':'; on Linux a directory.
void take_drive_destination(ArgumentScan& scan, OptionTarget& s) {
    const bool attached = !scan.rest().empty();
    const std::string value = take_value(
        scan, false, DashRule::fatal, MissingRule::fatal,
        paths::native_style == paths::Style::windows ? "the destination drive" : "the destination directory");
    if (paths::native_style == paths::Style::windows) {
        const bool has_colon = attached ? (value.size() >= 2 && value[1] == ':') : value.size() > 1;
        if (!has_colon) {
            std::fputs("\n\nYou used a -D option and forgot to include the ':' after the destination drive\n", stderr);
            std::fputs("Please rerun the program with proper ':' after destination drive designation\n\n", stderr);
            std::fputs("\a", stderr);
            throw util::RunEnd{ILLEGAL_OPTION};
        }
    }
    s.paths.drive_only_dest = true;
    s.paths.dest_given = true;
    // A drive designation stays a drive (resolving F: would give F:'s
    // working directory); the first source root is added after the options.
    s.paths.dest_path =
        paths::native_style == paths::Style::windows ? paths::add_long_prefix(value) : paths::make_long_path(value);
    s.paths.dest_drive_index = drive_index_of(s.paths.dest_path);
}

void take_type_patterns(ArgumentScan& scan, OptionTarget& s) {
    for (const std::string& pattern : take_list(scan, slash_begins_option)) {
        if (pattern.find('\\') != std::string::npos) {
            std::fputs("Can't have a \\ in the file type option\n", stderr);
            throw util::RunEnd{ILLEGAL_OPTION};
        }
        walk::add_type_pattern(s, pattern);
    }
}

void take_exclusions(ArgumentScan& scan, OptionTarget& s) {
    s.selection.exclude_mode = true;
    if (scan.next >= scan.args.size() || scan.args[scan.next].empty() || scan.args[scan.next][0] == '-') {
        bad_command_line(MissingRule::usage);
    }
    for (const std::string& pattern : take_list(scan, slash_begins_option)) {
        s.selection.exclude_list.push_back(s.selection.exclude_keep_case != 0 ? pattern : util::to_upper(pattern));
    }
}

void take_source_paths(ArgumentScan& scan, OptionTarget& s) {
    s.paths.path_given = true;
    for (const std::string& path : take_list(scan, false)) {
        walk::add_source_path(s, path);
    }
}

// -h, -hs, -hd: "=" and the hash log's name in the same argument.
void take_hash_option(ArgumentScan& scan, OptionTarget& s) {
    const std::string& a = scan.arg();
    const std::size_t equals = a.find('=');
    if (equals == std::string::npos || !s.hashing.hash_log_path.empty()) {
        std::fputs("\n\n\aNEED a hash option of format:  -h[sd]=hashlogfilenames\n\n", stderr);
        std::fputs("\a -hs=source_hashes,  or -hd=destination_hashes or -H=hashlogsboth\a\n", stderr);
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    HashOptions& mode = s.hashing;
    const char kind = scan.letter + 1 < a.size() ? a[scan.letter + 1] : '\0';
    switch (kind) {
        case '=':
            if (!mode.any()) {
                mode.hash_both();
            }
            break;
        case 's':
            mode.compare = false;
            mode.hash_sources = true;
            break;
        case 'd':
            mode.compare = false;
            mode.hash_copies = true;
            break;
        default:
            // The letter is read again as an option of its own.
            std::fputs("\nIncorrect -h option\n", stderr);
            std::fputs("\nUse either -h or -hs of -hd\n", stderr);
            return;
    }
    scan.rest_taken = true;
    record::name_hash_log(s.options, a.substr(equals + 1), false);
}

// -H: the hash log and its companions; both sides hashed unless -hs or -hd
// chose one already.
void take_hash_log_with_companions(ArgumentScan& scan, OptionTarget& s) {
    const std::string name = take_value(scan, true, DashRule::allowed, MissingRule::fatal, "the name of the hash log");
    if (!s.hashing.any()) {
        s.hashing.hash_both();
    }
    record::name_hash_log(s.options, name, true);
}

void take_long_option(ArgumentScan& scan, OptionTarget& s) {
    const std::string text(scan.rest());
    scan.rest_taken = true;
    if (parse_long_option(s, text) != 0) {
        throw OptionStop{OptionStop::Page::none, ILLEGAL_OPTION, "\nIllegal option: " + text};
    }
}

void take_time_field(ArgumentScan& scan, OptionTarget& s) {
    if (scan.plus) {
        s.selection.time_field = 'w';
        return;
    }
    const std::string option{'-', scan.arg()[scan.letter]};
    const std::string_view rest = scan.rest();
    char letter = 0;
    if (!rest.empty()) {
        // One letter; the letters after it are options again.
        letter = rest.front();
        ++scan.letter;
    } else {
        letter = take_value(scan, false, DashRule::fatal, MissingRule::fatal, "a time letter (A, C, W or 3)").front();
    }
    if (!is_time_letter(letter)) {
        refuse_option_value(option, std::string(1, letter));
    }
    s.selection.time_field = static_cast<unsigned char>(letter);
}

void take_width(ArgumentScan& scan, OptionTarget& s) {
    const int width =
        name_width_value("the width", take_value(scan, false, DashRule::allowed, MissingRule::fatal, "a width"));
    ConsoleOptions& con = s.console;
    con.width_state += 1;
    con.name_width = width;
    con.width_given = width;
    if (width == 0) {
        con.name_width = 260;
    }
}

// ---- one letter --------------------------------------------------------

// The letters that only set or clear flags. False for the others.
bool set_letter_flags(const ArgumentScan& scan, OptionTarget& s, char letter) {
    if (const Option option = letter_option(letter); option != Option::none) {
        const OptionRow& row = row_of(option);
        set_flag(s.options, row, scan.plus && row.plus_clears ? !row.writes : row.writes);
        return true;
    }
    switch (letter) {
        case 'N':
            s.copy.list_only = ListOnly::with_destinations;
            return true;
        case 'n':
            // -n lists names; a second -n adds the destinations.
            s.copy.list_only = s.copy.list_only == ListOnly::off ? ListOnly::names : ListOnly::with_destinations;
            return true;
        default:
            return false;
    }
}

// The letters that take a value. False for the others.
bool take_letter_value(ArgumentScan& scan, OptionTarget& s, char letter) {
    switch (letter) {
        case '1':
        case '2':
        case '3':
            if (scan.plus) {
                record::drop_log_set(s.options);
            } else {
                record::name_log_set(s.options,
                                     take_value(scan, true, DashRule::usage, MissingRule::usage, "the name of the log"),
                                     true);
            }
            break;
        case 'D':
            take_drive_destination(scan, s);
            break;
        case 'd':
            s.paths.dest_given = true;
            set_destination(s,
                            take_value(scan, false, DashRule::fatal, MissingRule::fatal, "the destination directory"));
            break;
        case 'E':
            record::name_error_file(
                s.options, take_value(scan, false, DashRule::usage, MissingRule::usage, "the name of the error log"));
            break;
        case 'F':
            read_type_file(
                s, take_value(scan, false, DashRule::allowed, MissingRule::fatal, "the name of the file types file"));
            break;
        case 'G':
            s.selection.greater_select = true;
            s.selection.greater_size =
                size_value("-G", take_value(scan, false, DashRule::fatal, MissingRule::fatal, "a byte count"));
            break;
        case 'g':
            apply_age_value(s, AgeBound::older,
                            take_value(scan, false, DashRule::allowed, MissingRule::usage, "days or a date"));
            break;
        case 'H':
            take_hash_log_with_companions(scan, s);
            break;
        case 'L':
            s.selection.less_select = true;
            s.selection.less_size =
                size_value("-L", take_value(scan, false, DashRule::fatal, MissingRule::fatal, "a byte count"));
            break;
        case 'l':
            apply_age_value(s, AgeBound::younger,
                            take_value(scan, false, DashRule::allowed, MissingRule::usage, "days or a date"));
            break;
        case 'S':
        case 's':
            name_list_file(s,
                           take_value(scan, false, DashRule::allowed, MissingRule::fatal, "the name of the list file"));
            break;
        default:
            return false;
    }
    return true;
}

void handle_letter(ArgumentScan& scan, OptionTarget& s) {
    const char letter = scan.arg()[scan.letter];
    if (set_letter_flags(scan, s, letter) || take_letter_value(scan, s, letter)) {
        return;
    }
    switch (letter) {
        case '-':
            take_long_option(scan, s);
            break;
        case 'a':
            take_attribute_modifiers(scan, s);
            break;
        case 'f':
            take_type_patterns(scan, s);
            break;
        case 'h':
            take_hash_option(scan, s);
            break;
        case 'p':
            take_source_paths(scan, s);
            break;
        case 'T':
        case 't':
            take_time_field(scan, s);
            break;
        case 'W':
            s.console.width_state += 2;
            take_width(scan, s);
            break;
        case 'w':
            if (scan.plus) {
                s.console.width_state = 1;
            } else {
                take_width(scan, s);
            }
            break;
        case 'X':
            s.selection.exclude_keep_case = true;
            take_exclusions(scan, s);
            break;
        case 'x':
            take_exclusions(scan, s);
            break;
        default:
            bad_command_line(MissingRule::usage);
    }
}

void read_option_argument(ArgumentScan& scan, OptionTarget& s) {
    scan.plus = scan.arg()[0] == '+';
    scan.rest_taken = false;
    for (scan.letter = 1; scan.letter < scan.arg().size() && !scan.rest_taken; ++scan.letter) {
        handle_letter(scan, s);
    }
}

// ---- before and after the arguments ------------------------------------

void read_environment(OptionTarget& s) {
    if (util::environment_contains("SILENT", "ON")) {
        s.console.silent = true;
    }
    record::name_default_log_from_environment(s.options);
    if (const auto reset = platform::get_environment("RESET")) {
        if (paths::starts_with_ignoring_case(*reset, "ON")) {
            s.copy.reset_times = true;
        }
    }
    if (const auto width = platform::get_environment("WIDTH")) {
        s.console.name_width = name_width_value("WIDTH", *width);
    }
    if (const auto threads = platform::get_environment("THREADS")) {
        const std::optional<unsigned> count = thread_count_value(*threads);
        if (!count) {
            refuse_number("THREADS", *threads);
        }
        s.options.threads = *count;
    }
}

void take_positional(OptionTarget& s, const std::string& arg) {
    if (s.paths.source_paths.empty()) {
        s.paths.path_given = true;
        walk::add_source_path(s, arg);
        return;
    }
    // A positional destination alone does not count as given: -d (or its
    // long or INI form) is still needed.
    set_destination(s, arg);
}

// Arguments after the options that are no options are not read; say so,
// so that a source placed after the options is not silently replaced by
// the working directory.
void report_ignored(const std::vector<std::string>& args, std::size_t from) {
    std::string ignored;
    for (std::size_t i = from; i < args.size(); ++i) {
        ignored += ' ';
        ignored += args[i];
    }
    std::fprintf(stderr, "\nIgnored after the options (paths come first):%s\n", ignored.c_str());
}

void complete_drive_destination(OptionTarget& s) {
    if (s.paths.source_paths.empty()) {
        return;
    }
    const std::string_view below = paths::below_drive(s.paths.source_paths.front());
    s.paths.dest_path = paths::without_trailing_separator(paths::join(s.paths.dest_path, below));
}

[[noreturn]] void missing_path_or_destination() {
    std::fputs("\n\nYou forgot to enter either a -p (path) or -d (destination)\n", stdout);
    std::fputs("If you are using -S or --dirs,  enter -p with the first path in the files, or dirs file\n", stdout);
    std::fputs("Please check your command and rerun\n\n", stdout);
    throw util::RunEnd{ILLEGAL_OPTION};
}

[[noreturn]] void test_without_list() {
    platform::set_console_attribute(platform::StdStream::error, 12);
    std::fputs("\n\nYou asked for a --TEST, but forgot to use the -S option\n", stdout);
    std::fputs("I have no way of knowing where the source files are.\n", stdout);
    std::fputs("Please include a -S filename and a --logfile option\n\n", stdout);
    platform::set_console_attribute(platform::StdStream::error, 158);
    std::fputs("\n", stdout);
    throw util::RunEnd{ILLEGAL_OPTION};
}

void finish_options(OptionTarget& s) {
    if (s.selection.type_list.empty()) {
        walk::add_type_pattern(s, "*.*");
    }
    if (s.console.path_only != 0 && s.console.width_state == 1) {
        s.console.name_width = 78;
        s.console.width_state = 2;
    }
    // Below the directory the user named nothing is written through a link,
    // whatever the repeated source path adds to it.
    s.paths.dest_named = s.paths.dest_path;
    if (s.paths.drive_only_dest != 0) {
        complete_drive_destination(s);
    }
}

}  // namespace

int parse_command_line(OptionTarget& s, const std::vector<std::string>& args) {
    set_default_cutoffs(s);
    if (args.size() > 1 && paths::equal_ignoring_case(args[1], "logs")) {
        show_log_help();
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    read_environment(s);
    read_ini_file(s);

    std::size_t index = 1;
    while (index < args.size() && !begins_option(args[index])) {
        take_positional(s, args[index]);
        ++index;
    }
    const int result = static_cast<int>(index);  // 1 + the positional arguments

    ArgumentScan scan{args};
    scan.next = index;
    while (scan.next < args.size()) {
        if (!begins_option(args[scan.next])) {
            report_ignored(args, scan.next);
            break;
        }
        scan.current = scan.next;
        scan.next = scan.current + 1;
        read_option_argument(scan, s);
    }
    finish_options(s);
    return result;
}

void check_required_options(const Options& o) {
    if (o.logs.ini_processed) {
        std::fputs("\n\nINI PROCESSED\n", stderr);
    }
    const PathOptions& p = o.paths;
    if (!p.dest_given || (!p.path_given && !p.list_file_mode && !p.dirs_list_mode)) {
        missing_path_or_destination();
    }
    if (p.test_mode && !p.list_file_mode) {
        test_without_list();
    }
    if (o.copy.reset_times) {
        std::fputs("\nRESET filetimes is ON\n", stdout);
        platform::pause_seconds(1);
    }
}

}  // namespace veldro::config
