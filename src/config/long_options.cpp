#include "config/long_options.h"

#include <cstdio>
#include <optional>

#include "config/option_values.h"
#include "config/usage.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "record/log_set.h"
#include "record/manifests.h"
#include "util/lines.h"
#include "util/numbers.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/list_mode.h"
#include "walk/sources.h"

namespace veldro::config {

namespace {

constexpr int handled = 0;
constexpr int illegal = 1;

// The value of an option: the text after the first '='; nothing when
// there is no '=' or nothing follows it.
std::optional<std::string> value_of(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 >= text.size()) {
        return std::nullopt;
    }
    return std::string(text.substr(equals + 1));
}

// A list that cannot be opened is named with the number its message has
// always carried for that list.
enum ListNumber : int { bypass_list = 125, exclusion_list = 145, directory_list = 165 };

void report_cannot_open(int line, const std::string& name) {
    std::fprintf(stdout, "\n%d %s, Can't open %s", line, "long_options", name.c_str());
}

// Minimum length of a bypass-file line, without its line end: shorter
// lines end the list. On Windows the shortest useful entry is "C:\"; on
// Linux a two-character path such as /a is a real directory.
constexpr std::size_t min_bypass_line = paths::native_style == paths::Style::windows ? 3 : 2;

int add_bypass(OptionTarget& s, const std::string& value) {
    s.selection.bypass_mode = true;
    const std::string internal = paths::make_long_path(value);
    if (!platform::path_exists(internal) || platform::is_directory(internal)) {
        s.selection.bypass_list.push_back(bypass_entry(value));
        return handled;
    }
    // An existing file lists the paths to bypass, one a line.
    std::FILE* file = platform::open_stream(internal, "r");
    if (file == nullptr) {
        report_cannot_open(bypass_list, value);
        return illegal;
    }
    std::string line;
    util::ListReader lines(file, "the bypass list");
    while (lines.next(line) && line.size() >= min_bypass_line) {
        s.selection.bypass_list.push_back(bypass_entry(line));
    }
    std::fclose(file);
    return handled;
}

int add_exclusion_file(OptionTarget& s, const std::string& value) {
    s.selection.exclude_mode = true;
    const std::string internal = paths::make_long_path(value);
    if (!platform::path_exists(internal)) {
        return handled;
    }
    std::FILE* file = platform::open_stream(internal, "r");
    if (file == nullptr) {
        report_cannot_open(exclusion_list, value);
        return handled;
    }
    std::string line;
    util::ListReader lines(file, "the exclusion list");
    while (lines.next(line) && !line.empty()) {
        s.selection.exclude_list.push_back(util::to_upper(line));
    }
    std::fclose(file);
    return handled;
}

int read_directory_list(OptionTarget& s, const std::string& value) {
    s.copy.immediate = true;
    s.paths.make_dirs = true;
    s.paths.dirs_list_mode = true;
    std::FILE* file = platform::open_stream(paths::make_long_path(value), "r");
    if (file == nullptr) {
        // Without its list the run would fall back to the working directory
        // as its source: refuse instead.
        report_cannot_open(directory_list, value);
        return illegal;
    }
    walk::read_dirs_list(s, file);
    return handled;
}

bool all_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// One character is the delimiter itself, digits are a character code
// (--DEL=9 is the tab), "pipe" is the bar.
int set_delimiter(OptionTarget& s, const std::string& value) {
    if (value.size() == 1 && !all_digits(value)) {
        s.console.delimiter = value[0];
        return handled;
    }
    if (paths::equal_ignoring_case(value, "pipe")) {
        s.console.delimiter = '|';
        return handled;
    }
    const std::optional<char> code = character_code(value);
    if (!code) {
        return illegal;
    }
    s.console.delimiter = *code;
    return handled;
}

int name_unicode_list(OptionTarget& s, const std::string& value) {
    s.hashing.unicode_list = true;
    s.hashing.unicode_list_path = value;
    s.options.named_files.push_back(NamedFile{NamedFileKind::unicode_list, value, 0, {}, {}});
    return handled;
}

int set_hash_mode(OptionTarget& s, const std::optional<std::string>& value) {
    if (!value) {
        s.hashing.hash_both();
        return handled;
    }
    switch ((*value)[0]) {
        case 's':
            s.hashing.hash_none();
            s.hashing.hash_sources = true;
            return handled;
        case 'd':
            s.hashing.hash_none();
            s.hashing.hash_copies = true;
            return handled;
        case 'b':
            s.hashing.hash_both();
            return handled;
        default:
            return illegal;
    }
}

// The keywords that need a value.
int handle_with_value(OptionTarget& s, LongKeyword k, std::string_view text, const std::string& value) {
    switch (k) {
        case LongKeyword::log:
            if (!record::name_long_log(s.options, value, text)) {
                throw OptionStop{OptionStop::Page::none, ILLEGAL_OPTION, record::colon_conflict_text};
            }
            return handled;
        case LongKeyword::older:
            apply_age_value(s, AgeBound::older, value);
            return handled;
        case LongKeyword::younger:
            apply_age_value(s, AgeBound::younger, value);
            return handled;
        case LongKeyword::bypass:
            return add_bypass(s, value);
        case LongKeyword::exclude:
            return add_exclusion_file(s, value);
        case LongKeyword::destination:
            s.paths.dest_given = true;
            s.paths.make_dirs = true;
            set_destination(s, value);
            return handled;
        case LongKeyword::delimiter:
            return set_delimiter(s, value);
        case LongKeyword::dirs:
            return read_directory_list(s, value);
        case LongKeyword::error_mask:
            return record::add_error_mask(s.options, value) ? handled : illegal;
        case LongKeyword::greater:
            s.selection.greater_select = true;
            s.selection.greater_size = size_value("--GREATER", value);
            return handled;
        case LongKeyword::hash_log:
            record::name_hash_log(s.options, value, false);
            return handled;
        case LongKeyword::unicode:
            return name_unicode_list(s, value);
        case LongKeyword::less:
            s.selection.less_select = true;
            s.selection.less_size = size_value("--LESSTHAN", value);
            return handled;
        case LongKeyword::list:
            s.paths.make_dirs = true;
            name_list_file(s, value);
            return handled;
        case LongKeyword::path:
            s.paths.path_given = true;
            walk::add_source_path(s, value);
            return handled;
        case LongKeyword::width:
            s.console.width_state += 1;
            s.console.name_width = name_width_value("--WIDTH", value);
            return handled;
        case LongKeyword::threads:
            if (const std::optional<unsigned> count = thread_count_value(value)) {
                s.options.threads = *count;
                return handled;
            }
            return illegal;
        default:
            return handled;
    }
}

// The keywords whose value is optional or chooses a mode.
int handle_optional_value(OptionTarget& s, LongKeyword k, std::string_view text,
                          const std::optional<std::string>& value) {
    switch (k) {
        case LongKeyword::hash:
            return set_hash_mode(s, value);
        case LongKeyword::maintain:
            s.paths.make_dirs = true;
            if (paths::starts_with_ignoring_case(text, "MAINTAIN")) {
                s.paths.maintain_dir_dates = true;
            }
            break;
        case LongKeyword::retries:
            s.hashing.retries = value ? count_value("--RET", *value) : 0;
            break;
        case LongKeyword::flatten:
            s.copy.flatten = value ? count_value("--FLAT", *value) : 1;
            break;
        default:
            break;
    }
    return handled;
}

// A word that names no keyword: a forensic run that silently dropped the
// proof or the dry run it was asked for would be a failure reported as a
// success, so it is refused before anything is done.
[[noreturn]] void refuse_unknown_keyword(std::string_view text) {
    const std::string_view word = text.substr(0, text.find('='));
    std::string message = "\nUnknown option --" + std::string(word);
    if (const std::string_view close = closest_long_keyword(word); !close.empty()) {
        message += ", did you mean --" + std::string(close) + "?";
    }
    throw OptionStop{OptionStop::Page::none, ILLEGAL_OPTION, message};
}

}  // namespace

LongKeyword match_long_keyword(std::string_view text) {
    return match_option(text, Source::long_option);
}

int parse_long_option(OptionTarget& s, std::string_view text) {
    // The conventions users expect; neither word is one of the keywords.
    if (paths::equal_ignoring_case(text, "help")) {
        throw OptionStop{OptionStop::Page::usage, NORMAL_EXIT, {}};
    }
    if (paths::equal_ignoring_case(text, "version")) {
        throw OptionStop{OptionStop::Page::version, NORMAL_EXIT, {}};
    }
    const LongKeyword keyword = match_long_keyword(text);
    if (keyword == LongKeyword::none) {
        refuse_unknown_keyword(text);
    }
    const OptionRow& row = row_of(keyword);
    const std::optional<std::string> value = value_of(text);
    switch (row.long_value) {
        case Value::absent:
            return handled;
        case Value::flag:
            // A value given to a switch says the user meant another option.
            if (text.find('=') != std::string_view::npos) {
                return illegal;
            }
            set_flag(s.options, row, row.writes);
            return handled;
        case Value::on_off:
            return set_switch(s.options, row, value) ? handled : illegal;
        case Value::count:
        case Value::choice:
            return handle_optional_value(s, row.option, text, value);
        default:
            break;
    }
    if (!value) {
        return illegal;
    }
    if (row.file != nullptr) {
        s.logs.*row.file = *value;
        return handled;
    }
    return handle_with_value(s, row.option, text, *value);
}

std::string bypass_entry(std::string_view value) {
    std::string entry = paths::make_long_path(value);
    if (!value.empty() && paths::is_separator(value.back())) {
        entry = paths::with_trailing_separator(entry);
    }
    return entry;
}

}  // namespace veldro::config
