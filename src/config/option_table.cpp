#include "config/option_table.h"

#include <algorithm>
#include <array>
#include <vector>

#include "util/numbers.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::config {

namespace {

constexpr Source long_only = Source::long_option;
constexpr Source ini_only = Source::ini;
constexpr Source both = Source::both;
constexpr Match anywhere = Match::anywhere;

// The INI directives keep the order they have always been tried in: a word
// searched anywhere in a directive's name wins over the words after it, and
// PATHONLY comes before PATH. A long option names a keyword only as the word
// itself or a shortening of it, so their order matters little; IM is the
// bare word alone.
constexpr auto words = std::to_array<OptionWord>({
    {"ALL", 3, Option::all, long_only},
    {"ACCOUNT", 3, Option::log, long_only},
    {"ACCT", 4, Option::log, both},
    {"ACCOUNT", 7, Option::log, ini_only},
    {"LOGFILE", 3, Option::log, both},
    {"LOGS", 4, Option::log, long_only},
    {"ADSEXTRACT", 10, Option::ads_extract, long_only},
    {"ADSPARENT", 9, Option::ads_parent, long_only},
    {"ADSCHILD", 8, Option::ads_child, long_only},
    {"APPEND", 6, Option::append, ini_only, anywhere},
    {"BEFORE", 3, Option::older, long_only},
    {"NEWER", 3, Option::younger, long_only},
    {"YOUNGER", 3, Option::younger, long_only},
    {"AFTER", 3, Option::younger, long_only},
    {"BYPASS", 3, Option::bypass, both},
    {"EXCLUDE", 3, Option::exclude, long_only},
    {"CHK_TILDE", 3, Option::check_tilde, long_only},
    {"CHK_TILDE", 9, Option::check_tilde, ini_only},
    {"CRC", 3, Option::crc, ini_only},
    {"DELIMITER", 3, Option::delimiter, long_only},
    {"DELIMITER", 5, Option::delimiter, ini_only},
    {"DESTINATION", 3, Option::destination, both},
    {"OUTPUT", 3, Option::destination, long_only},
    {"DIRS", 3, Option::dirs, long_only},
    {"DISPLAY", 5, Option::display, ini_only},
    {"ERROR", 3, Option::error_mask, long_only},
    {"EXIST", 3, Option::exist, long_only},
    {"GREATER", 3, Option::greater, long_only},
    {"HASHLOG", 7, Option::hash_log, long_only},
    {"UNICODE", 7, Option::unicode, long_only},
    {"HASH", 4, Option::hash, both},
    {"MD5", 3, Option::hash, long_only},
    {"IM", 2, Option::immediate, long_only, Match::whole},
    {"IMMEDIATE", 5, Option::immediate, both},
    {"NO_COUNT", 8, Option::immediate, ini_only},
    {"LESSTHAN", 3, Option::less, long_only},
    {"LIST", 3, Option::list, long_only},
    {"LIST_ONLY", 4, Option::list_only, ini_only},
    {"MAINTAIN", 4, Option::maintain, long_only},
    {"MAINTAIN", 5, Option::maintain, ini_only},
    {"GREATER", 5, Option::greater, ini_only},
    {"LESSTHAN", 4, Option::less, ini_only},
    {"MEMO", 4, Option::memo, ini_only},
    {"MAKE", 4, Option::make_dirs, ini_only},
    {"MILITARY", 8, Option::military, ini_only, anywhere},
    {"MILLI", 5, Option::milli, long_only},
    {"NAMEONLY", 8, Option::name_only, ini_only, anywhere},
    {"FLATTEN", 4, Option::flatten, both},
    {"NODUPE", 6, Option::no_dupe, ini_only, anywhere},
    {"NOCASE", 3, Option::no_case, long_only},
    {"IGNORE_CASE", 3, Option::no_case, long_only},
    {"NODUPE", 3, Option::no_dupe, long_only},
    {"YOUNGER", 5, Option::younger, ini_only},
    {"NEWER", 5, Option::younger, ini_only},
    {"OLDER", 3, Option::older, both},
    {"OUTPUT", 6, Option::destination, ini_only},
    {"OVERWRITE", 4, Option::overwrite, long_only},
    {"PATHONLY", 8, Option::path_only, ini_only},
    {"PATH", 4, Option::path, both},
    {"RETRIES", 3, Option::retries, long_only},
    {"RECURSE", 3, Option::recurse, both},
    {"NORECURSE", 3, Option::no_recurse, long_only},
    {"RESET", 3, Option::reset, long_only},
    {"RESET", 5, Option::reset, ini_only},
    {"SHADOW_COPY", 6, Option::shadow, long_only},
    {"SHA1", 4, Option::sha1, both},
    {"160", 3, Option::sha1, long_only},
    {"SHA256", 4, Option::sha256, both},
    {"256", 3, Option::sha256, long_only},
    {"SHA384", 4, Option::sha384, both},
    {"384", 3, Option::sha384, long_only},
    {"SHA512", 4, Option::sha512, both},
    {"512", 3, Option::sha512, long_only},
    {"SILENT", 3, Option::silent, long_only},
    {"SILENT", 5, Option::silent, ini_only},
    {"TEST", 4, Option::test, long_only},
    {"TIME", 4, Option::time_field, ini_only},
    {"WIDTH", 3, Option::width, long_only},
    {"WIDTH", 5, Option::width, ini_only},
    {"ZERO", 4, Option::zero, long_only},
    {"ZULU", 3, Option::zulu, long_only},
    {"ZULU", 4, Option::zulu, ini_only},
    {"DFXML", 5, Option::dfxml, both},
    {"AUDITSET", 8, Option::audit_set, both},
    {"SEAL", 4, Option::seal, both},
    {"REPORT", 3, Option::report, long_only},
    {"REPORT", 6, Option::report, ini_only},
    {"CASE", 4, Option::case_number, both},
    {"EXHIBIT", 4, Option::exhibit, long_only},
    {"EXHIBIT", 7, Option::exhibit, ini_only},
    {"EXAMINER", 4, Option::examiner, long_only},
    {"EXAMINER", 8, Option::examiner, ini_only},
    {"NOTES", 4, Option::notes, long_only},
    {"NOTES", 5, Option::notes, ini_only},
    {"THREADS", 3, Option::threads, long_only},
    {"THREADS", 7, Option::threads, ini_only},
    {"VERIFY_MEDIA", 12, Option::verify_media, long_only},
    {"VERIFY", 6, Option::verify, long_only},
    {"VERIFY_MEDIA", 12, Option::verify_media, ini_only},
    {"QUIET", 5, Option::quiet, both},
});

// The group of settings a field belongs to.
PathOptions& group(Options& o, bool PathOptions::* /*field*/) {
    return o.paths;
}
SelectionOptions& group(Options& o, bool SelectionOptions::* /*field*/) {
    return o.selection;
}
CopyOptions& group(Options& o, bool CopyOptions::* /*field*/) {
    return o.copy;
}
HashOptions& group(Options& o, bool HashOptions::* /*field*/) {
    return o.hashing;
}
LogOptions& group(Options& o, bool LogOptions::* /*field*/) {
    return o.logs;
}
ConsoleOptions& group(Options& o, bool ConsoleOptions::* /*field*/) {
    return o.console;
}

template <auto Field>
bool& in(Options& o) {
    return group(o, Field).*Field;
}

using V = Value;

// One row per option, in the order of `Option`: the option, its letters,
// its value on the command line and in the INI file, the setting it
// writes, the one it also turns on, what a flag writes, whether '+' writes
// the opposite, the file a path names.
constexpr auto rows = std::to_array<OptionRow>({
    {Option::none},
    {Option::all, "A", V::flag, V::absent, in<&SelectionOptions::copy_all>, nullptr, true, true},
    {Option::log, "", V::text, V::text},
    {Option::ads_extract, "", V::flag, V::absent, in<&CopyOptions::ads_extract>},
    {Option::ads_parent, "", V::flag, V::absent, in<&CopyOptions::ads_parent>, in<&CopyOptions::ads_extract>},
    {Option::ads_child, "", V::flag, V::absent, in<&CopyOptions::ads_child>, in<&CopyOptions::ads_extract>},
    {Option::older, "", V::days_or_date, V::days_or_date},
    {Option::younger, "", V::days_or_date, V::days_or_date},
    {Option::bypass, "", V::path, V::path},
    {Option::exclude, "", V::path},
    {Option::check_tilde, "", V::on_off, V::on_off, in<&CopyOptions::check_tilde>},
    {Option::destination, "", V::path, V::path},
    {Option::delimiter, "", V::text, V::text},
    {Option::dirs, "", V::path},
    {Option::error_mask, "", V::text},
    {Option::exist, "e", V::flag, V::absent, in<&SelectionOptions::exist_only>},
    {Option::greater, "", V::size, V::size},
    {Option::hash_log, "", V::path},
    {Option::unicode, "", V::path},
    {Option::hash, "", V::choice, V::choice},
    {Option::immediate, "Ii", V::flag, V::on_off, in<&CopyOptions::immediate>},
    {Option::less, "", V::size, V::size},
    {Option::list, "", V::path},
    {Option::maintain, "M", V::choice, V::on_off, in<&PathOptions::maintain_dir_dates>, in<&PathOptions::make_dirs>},
    {Option::milli, "", V::flag, V::absent, in<&LogOptions::milli>},
    {Option::no_case, "", V::flag, V::absent, in<&CopyOptions::no_case>, in<&SelectionOptions::copy_all>},
    {Option::no_dupe, "", V::flag, V::on_off, in<&CopyOptions::no_dupe>, in<&SelectionOptions::copy_all>},
    {Option::overwrite, "O", V::flag, V::absent, in<&CopyOptions::overwrite_protected>},
    {Option::path, "", V::path, V::path},
    {Option::retries, "", V::count},
    {Option::recurse, "", V::on_off, V::on_off, in<&SelectionOptions::recurse>},
    {Option::no_recurse, "r", V::flag, V::absent, in<&SelectionOptions::recurse>, nullptr, false},
    {Option::reset, "R", V::on_off, V::on_off, in<&CopyOptions::reset_times>, nullptr, true, true},
    {Option::shadow, "", V::flag, V::absent, in<&PathOptions::shadow_copy>},
    {Option::sha1, "", V::flag, V::on_off, in<&HashOptions::sha1>},
    {Option::sha256, "", V::flag, V::on_off, in<&HashOptions::sha256>},
    {Option::sha384, "", V::flag, V::on_off, in<&HashOptions::sha384>},
    {Option::sha512, "", V::flag, V::on_off, in<&HashOptions::sha512>},
    {Option::test, "", V::flag, V::absent, in<&PathOptions::test_mode>},
    {Option::flatten, "", V::count, V::count},
    {Option::width, "", V::number, V::number},
    {Option::zero, "", V::flag, V::absent, in<&CopyOptions::zero_dates>},
    {Option::zulu, "z", V::flag, V::on_off, in<&LogOptions::zulu_time>},
    {Option::silent, "Vv", V::on_off, V::on_off, in<&ConsoleOptions::silent>},
    {Option::dfxml, "", V::path, V::path, nullptr, nullptr, true, false, &LogOptions::dfxml_path},
    {Option::audit_set, "", V::path, V::path, nullptr, nullptr, true, false, &LogOptions::audit_set_path},
    {Option::seal, "", V::flag, V::on_off, in<&LogOptions::seal>},
    {Option::report, "", V::path, V::path, nullptr, nullptr, true, false, &LogOptions::report_path},
    {Option::case_number, "", V::text, V::text, nullptr, nullptr, true, false, &LogOptions::case_number},
    {Option::exhibit, "", V::text, V::text, nullptr, nullptr, true, false, &LogOptions::exhibit},
    {Option::examiner, "", V::text, V::text, nullptr, nullptr, true, false, &LogOptions::examiner},
    {Option::notes, "", V::text, V::text, nullptr, nullptr, true, false, &LogOptions::notes},
    {Option::threads, "", V::number, V::number},
    {Option::verify_media, "", V::flag, V::on_off, in<&HashOptions::verify_media>},
    {Option::verify, "", V::path, V::absent, nullptr, nullptr, true, false, &LogOptions::verify_record_path},
    {Option::quiet, "", V::flag, V::on_off, in<&ConsoleOptions::quiet>},
    {Option::append, "", V::absent, V::on_off, in<&LogOptions::append>},
    // Accepted for older files; the value must still say on or off.
    {Option::crc, "", V::absent, V::on_off},
    {Option::military, "", V::absent, V::on_off},
    {Option::name_only, "", V::absent, V::on_off, in<&ConsoleOptions::name_only>},
    {Option::path_only, "", V::absent, V::on_off, in<&ConsoleOptions::path_only>},
    {Option::display, "", V::absent, V::number},
    {Option::memo, "", V::absent, V::path},
    {Option::make_dirs, "m", V::absent, V::on_off, in<&PathOptions::make_dirs>},
    {Option::list_only, "", V::absent, V::on_off},
    {Option::time_field, "", V::absent, V::text},
    {Option::keep_dir_case, "Uu", V::absent, V::absent, in<&PathOptions::upper_case_dirs>, nullptr, false},
});

constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (static_cast<std::size_t>(rows[i].option) != i) {
            return false;
        }
    }
    return rows.back().option == Option::keep_dir_case;
}
static_assert(rows_in_order(), "one row per option, in the order of Option");

bool offered(Source word, Source wanted) {
    return (static_cast<unsigned>(word) & static_cast<unsigned>(wanted)) != 0;
}

// The word of a long option: the text before its value.
std::string_view long_word(std::string_view text) {
    return text.substr(0, text.find('='));
}

// A long option names a word when it is the word or a shortening of it
// that keeps at least the word's compared letters: --SHA3 is SHA384, but
// --SHA3-256 names nothing, and --dfxm is too short for DFXML.
bool names_word(const OptionWord& word, std::string_view given) {
    if (word.match == Match::whole) {
        return paths::equal_ignoring_case(given, word.name.substr(0, word.letters));
    }
    return given.size() >= word.letters && given.size() <= word.name.size() &&
           paths::starts_with_ignoring_case(word.name, given);
}

bool matches(const OptionWord& word, std::string_view text, Source source) {
    if (source == Source::long_option) {
        return names_word(word, long_word(text));
    }
    const std::string_view compared = word.name.substr(0, word.letters);
    switch (word.match) {
        case Match::whole:
            return paths::equal_ignoring_case(text, compared);
        case Match::anywhere:
            // Looked for in the directive's own name only: PATH=C:\APPEND\X
            // is a path, not the APPEND directive.
            return util::to_upper(text.substr(0, text.find('='))).find(compared) != std::string::npos;
        case Match::leading:
            break;
    }
    return paths::starts_with_ignoring_case(text, compared);
}

}  // namespace

bool needs_value(Value kind) {
    switch (kind) {
        case Value::number:
        case Value::size:
        case Value::days_or_date:
        case Value::path:
        case Value::text:
            return true;
        default:
            return false;
    }
}

std::span<const OptionWord> option_words() {
    return words;
}

Option match_option(std::string_view text, Source source) {
    for (const OptionWord& word : words) {
        if (offered(word.source, source) && matches(word, text, source)) {
            return word.option;
        }
    }
    return Option::none;
}

namespace {

// The edits (a letter added, dropped or changed) that turn one word into
// another, ignoring case.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    const std::string x = util::to_upper(a);
    const std::string y = util::to_upper(b);
    std::vector<std::size_t> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= x.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// Farther than this, a word is no likely slip for a keyword.
constexpr std::size_t most_edits = 2;

}  // namespace

std::string_view closest_long_keyword(std::string_view word) {
    std::string_view best;
    Option best_option = Option::none;
    std::size_t best_distance = most_edits + 1;
    bool tie = false;
    for (const OptionWord& w : words) {
        if (!offered(w.source, Source::long_option)) {
            continue;
        }
        // A shortening the keyword does not accept is as close as can be.
        const bool short_prefix =
            !word.empty() && word.size() < w.name.size() && paths::starts_with_ignoring_case(w.name, word);
        const std::size_t distance = short_prefix ? 0 : edit_distance(word, w.name);
        if (distance > most_edits || distance * 2 >= w.name.size() || distance > best_distance) {
            continue;
        }
        if (distance < best_distance) {
            best = w.name;
            best_option = w.option;
            best_distance = distance;
            tie = false;
        } else if (w.option != best_option) {
            tie = true;
        }
    }
    return tie ? std::string_view() : best;
}

const OptionRow& row_of(Option option) {
    return rows.at(static_cast<std::size_t>(option));
}

Option letter_option(char letter) {
    for (const OptionRow& row : rows) {
        if (row.letters.find(letter) != std::string_view::npos) {
            return row.option;
        }
    }
    return Option::none;
}

std::optional<bool> switch_value(const std::optional<std::string_view>& word) {
    return word ? util::parse_switch(*word) : std::optional<bool>(true);
}

void set_flag(Options& o, const OptionRow& row, bool on) {
    if (row.field != nullptr) {
        row.field(o) = on;
    }
    if (row.also != nullptr) {
        row.also(o) = true;
    }
}

bool set_switch(Options& o, const OptionRow& row, const std::optional<std::string_view>& word) {
    const std::optional<bool> on = switch_value(word);
    if (!on) {
        return false;
    }
    set_flag(o, row, *on);
    return true;
}

}  // namespace veldro::config
