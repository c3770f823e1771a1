#include "config/long_options.h"

#include <array>
#include <cstdio>
#include <optional>

#include "config/option_values.h"
#include "config/usage.h"
#include "logs/log_set.h"
#include "logs/manifests.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/lines.h"
#include "util/numbers.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/list_mode.h"
#include "walk/sources.h"

namespace veldro::config {

namespace {

struct KeywordEntry {
    std::string_view prefix;  // compared on its whole length, ignoring case
    LongKeyword keyword;
};

// The order decides: --dirs is DIR (not DES), --hashlog is HASHLOG (not HASH).
constexpr auto keyword_table = std::to_array<KeywordEntry>({
    {"ALL", LongKeyword::all},
    {"ACC", LongKeyword::log},
    {"LOG", LongKeyword::log},
    {"ADSEXTRACT", LongKeyword::ads_extract},
    {"ADSPARENT", LongKeyword::ads_parent},
    {"ADSCHILD", LongKeyword::ads_child},
    {"OLD", LongKeyword::older},
    {"BEF", LongKeyword::older},
    {"NEW", LongKeyword::younger},
    {"YOU", LongKeyword::younger},
    {"AFT", LongKeyword::younger},
    {"BYP", LongKeyword::bypass},
    {"EXC", LongKeyword::exclude},
    {"CHK", LongKeyword::check_tilde},
    {"DES", LongKeyword::destination},
    {"OUT", LongKeyword::destination},
    {"DEL", LongKeyword::delimiter},
    {"DIR", LongKeyword::dirs},
    {"ERR", LongKeyword::error_mask},
    {"EXI", LongKeyword::exist},
    {"GRE", LongKeyword::greater},
    {"HASHLOG", LongKeyword::hash_log},
    {"UNICODE", LongKeyword::unicode},
    {"HASH", LongKeyword::hash},
    {"MD5", LongKeyword::hash},
    {"IM", LongKeyword::immediate},  // the bare word only, see below
    {"LES", LongKeyword::less},
    {"LIS", LongKeyword::list},
    {"MAIN", LongKeyword::maintain},
    {"MILLI", LongKeyword::milli},
    {"NOC", LongKeyword::no_case},
    {"IGN", LongKeyword::no_case},
    {"NOD", LongKeyword::no_dupe},
    {"OVER", LongKeyword::overwrite},
    {"PATH", LongKeyword::path},
    {"RET", LongKeyword::retries},
    {"REC", LongKeyword::recurse},
    {"NOR", LongKeyword::no_recurse},
    {"RES", LongKeyword::reset},
    {"SHADOW", LongKeyword::shadow},
    {"SHA1", LongKeyword::sha1},
    {"160", LongKeyword::sha1},
    {"SHA2", LongKeyword::sha256},
    {"256", LongKeyword::sha256},
    {"SHA3", LongKeyword::sha384},
    {"384", LongKeyword::sha384},
    {"SHA5", LongKeyword::sha512},
    {"512", LongKeyword::sha512},
    {"TEST", LongKeyword::test},
    {"FLAT", LongKeyword::flatten},
    {"WID", LongKeyword::width},
    {"ZERO", LongKeyword::zero},
    {"ZUL", LongKeyword::zulu},
    {"SIL", LongKeyword::silent},
    // Keywords added since: none begins with an earlier one.
    {"DFXML", LongKeyword::dfxml},
    {"AUDITSET", LongKeyword::audit_set},
    {"SEAL", LongKeyword::seal},
    {"REP", LongKeyword::report},
    {"THR", LongKeyword::threads},
});

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
    // A character code; text that names no character (0, or not a number)
    // would put NUL bytes into the console lines.
    const std::optional<int> code = util::parse_int(value);
    if (!code || *code < 1 || *code > 255) {
        return illegal;
    }
    s.console.delimiter = static_cast<char>(static_cast<unsigned char>(*code));
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

// REC, RES, SIL and CHK: no value gives 1; ON, YES, TRUE, 1 give 1; OFF,
// NO, FALSE, 0 give 0; anything else is illegal.
int set_on_off(bool& field, const std::optional<std::string>& value) {
    const std::optional<bool> on = value ? util::parse_switch(*value) : std::optional<bool>(true);
    if (!on) {
        return illegal;
    }
    field = *on;
    return handled;
}

// --SHA1 ... --SHA5: the digests wanted besides MD5. False for other keywords.
bool set_digest_flag(HashOptions& h, LongKeyword k) {
    switch (k) {
        case LongKeyword::sha1:
            h.sha1 = true;
            return true;
        case LongKeyword::sha256:
            h.sha256 = true;
            return true;
        case LongKeyword::sha384:
            h.sha384 = true;
            return true;
        case LongKeyword::sha512:
            h.sha512 = true;
            return true;
        default:
            return false;
    }
}

// The keywords that need a value; without one the option is illegal.
bool needs_value(LongKeyword k) {
    switch (k) {
        case LongKeyword::log:
        case LongKeyword::older:
        case LongKeyword::younger:
        case LongKeyword::bypass:
        case LongKeyword::exclude:
        case LongKeyword::destination:
        case LongKeyword::delimiter:
        case LongKeyword::dirs:
        case LongKeyword::error_mask:
        case LongKeyword::greater:
        case LongKeyword::hash_log:
        case LongKeyword::unicode:
        case LongKeyword::less:
        case LongKeyword::list:
        case LongKeyword::path:
        case LongKeyword::width:
        case LongKeyword::dfxml:
        case LongKeyword::audit_set:
        case LongKeyword::report:
        case LongKeyword::threads:
            return true;
        default:
            return false;
    }
}

// The keywords whose value is a file or path.
int handle_with_value(OptionTarget& s, LongKeyword k, std::string_view text, const std::string& value) {
    switch (k) {
        case LongKeyword::log:
            if (!logs::name_long_log(s.options, value, text)) {
                throw OptionStop{OptionStop::Page::none, ILLEGAL_OPTION, logs::colon_conflict_text};
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
            return logs::add_error_mask(s.options, value) ? handled : illegal;
        case LongKeyword::greater:
            s.selection.greater_select = true;
            s.selection.greater_size = size_value("--GREATER", value);
            return handled;
        case LongKeyword::hash_log:
            logs::name_hash_log(s.options, value, false);
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
        case LongKeyword::dfxml:
            s.logs.dfxml_path = value;
            return handled;
        case LongKeyword::audit_set:
            s.logs.audit_set_path = value;
            return handled;
        case LongKeyword::report:
            s.logs.report_path = value;
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

// The keywords that take no value: each sets its flags. False for the others.
bool set_flags(OptionTarget& s, LongKeyword k) {
    switch (k) {
        case LongKeyword::all:
            s.selection.copy_all = true;
            break;
        case LongKeyword::ads_extract:
            s.copy.ads_extract = true;
            break;
        case LongKeyword::ads_parent:
            s.copy.ads_extract = true;
            s.copy.ads_parent = true;
            break;
        case LongKeyword::ads_child:
            s.copy.ads_extract = true;
            s.copy.ads_child = true;
            break;
        case LongKeyword::exist:
            s.selection.exist_only = true;
            break;
        case LongKeyword::immediate:
            s.copy.immediate = true;
            break;
        case LongKeyword::milli:
            s.logs.milli = true;
            break;
        case LongKeyword::no_case:
            s.copy.no_case = true;
            s.selection.copy_all = true;
            break;
        case LongKeyword::no_dupe:
            s.copy.no_dupe = true;
            s.selection.copy_all = true;
            break;
        case LongKeyword::overwrite:
            s.copy.overwrite_protected = true;
            break;
        case LongKeyword::no_recurse:
            s.selection.recurse = false;
            break;
        case LongKeyword::shadow:
            s.paths.shadow_copy = true;
            break;
        case LongKeyword::test:
            s.paths.test_mode = true;
            break;
        case LongKeyword::zero:
            s.copy.zero_dates = true;
            break;
        case LongKeyword::zulu:
            s.logs.zulu_time = true;
            break;
        case LongKeyword::seal:
            s.logs.seal = true;
            break;
        default:
            return set_digest_flag(s.hashing, k);
    }
    return true;
}

// The keywords that take an optional value.
int handle_without_value(OptionTarget& s, LongKeyword k, std::string_view text,
                         const std::optional<std::string>& value) {
    switch (k) {
        case LongKeyword::check_tilde:
            return set_on_off(s.copy.check_tilde, value);
        case LongKeyword::hash:
            return set_hash_mode(s, value);
        case LongKeyword::maintain:
            s.paths.make_dirs = true;
            if (paths::starts_with_ignoring_case(text, "MAINTAIN")) {
                s.paths.maintain_dir_dates = true;
            }
            break;
        case LongKeyword::retries:
            s.hashing.retries = value ? int_value("--RET", *value) : 0;
            break;
        case LongKeyword::recurse:
            return set_on_off(s.selection.recurse, value);
        case LongKeyword::reset:
            return set_on_off(s.copy.reset_times, value);
        case LongKeyword::flatten:
            s.copy.flatten = value ? int_value("--FLAT", *value) : 1;
            break;
        case LongKeyword::silent:
            return set_on_off(s.console.silent, value);
        default:
            set_flags(s, k);
            break;
    }
    return handled;
}

}  // namespace

LongKeyword match_long_keyword(std::string_view text) {
    for (const KeywordEntry& entry : keyword_table) {
        if (entry.keyword == LongKeyword::immediate) {
            // Compared on three characters, the end of the text included.
            if (paths::equal_ignoring_case(text, entry.prefix)) {
                return entry.keyword;
            }
            continue;
        }
        if (paths::starts_with_ignoring_case(text, entry.prefix)) {
            return entry.keyword;
        }
    }
    return LongKeyword::none;
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
        return handled;
    }
    const std::optional<std::string> value = value_of(text);
    if (needs_value(keyword)) {
        if (!value) {
            return illegal;
        }
        return handle_with_value(s, keyword, text, *value);
    }
    return handle_without_value(s, keyword, text, value);
}

std::string bypass_entry(std::string_view value) {
    std::string entry = paths::make_long_path(value);
    if (!value.empty() && paths::is_separator(value.back())) {
        entry = paths::with_trailing_separator(entry);
    }
    return entry;
}

}  // namespace veldro::config
