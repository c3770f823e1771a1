#include "config/option_table.h"

#include <array>

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
// PATHONLY comes before PATH. Among the long keywords only HASHLOG must come
// before HASH, and IM is the bare word alone.
constexpr auto words = std::to_array<OptionWord>({
    {"ALL", 3, Option::all, long_only},
    {"ACCOUNT", 3, Option::log, long_only},
    {"ACCT", 4, Option::log, ini_only},
    {"ACCOUNT", 7, Option::log, ini_only},
    {"LOGFILE", 3, Option::log, both},
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
    {"IMMEDIATE", 5, Option::immediate, ini_only},
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
    {"THREADS", 3, Option::threads, long_only},
    {"THREADS", 7, Option::threads, ini_only},
});

template <auto Group, auto Field>
bool& in(Options& o) {
    return (o.*Group).*Field;
}

using V = Value;

// One row per option, in the order of `Option`.
constexpr auto specs = std::to_array<OptionSpec>({
    {.option = Option::none},
    {.option = Option::all,
     .letters = "A",
     .long_value = V::flag,
     .field = in<&Options::selection, &SelectionOptions::copy_all>,
     .plus_clears = true},
    {.option = Option::log, .long_value = V::text, .ini_value = V::text},
    {.option = Option::ads_extract, .long_value = V::flag, .field = in<&Options::copy, &CopyOptions::ads_extract>},
    {.option = Option::ads_parent,
     .long_value = V::flag,
     .field = in<&Options::copy, &CopyOptions::ads_parent>,
     .also = in<&Options::copy, &CopyOptions::ads_extract>},
    {.option = Option::ads_child,
     .long_value = V::flag,
     .field = in<&Options::copy, &CopyOptions::ads_child>,
     .also = in<&Options::copy, &CopyOptions::ads_extract>},
    {.option = Option::older, .long_value = V::days_or_date, .ini_value = V::days_or_date},
    {.option = Option::younger, .long_value = V::days_or_date, .ini_value = V::days_or_date},
    {.option = Option::bypass, .long_value = V::path, .ini_value = V::path},
    {.option = Option::exclude, .long_value = V::path},
    {.option = Option::check_tilde,
     .long_value = V::on_off,
     .ini_value = V::on_off,
     .field = in<&Options::copy, &CopyOptions::check_tilde>},
    {.option = Option::destination, .long_value = V::path, .ini_value = V::path},
    {.option = Option::delimiter, .long_value = V::text, .ini_value = V::text},
    {.option = Option::dirs, .long_value = V::path},
    {.option = Option::error_mask, .long_value = V::text},
    {.option = Option::exist,
     .letters = "e",
     .long_value = V::flag,
     .field = in<&Options::selection, &SelectionOptions::exist_only>},
    {.option = Option::greater, .long_value = V::size, .ini_value = V::size},
    {.option = Option::hash_log, .long_value = V::path},
    {.option = Option::unicode, .long_value = V::path},
    {.option = Option::hash, .long_value = V::choice, .ini_value = V::choice},
    {.option = Option::immediate,
     .letters = "Ii",
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::copy, &CopyOptions::immediate>},
    {.option = Option::less, .long_value = V::size, .ini_value = V::size},
    {.option = Option::list, .long_value = V::path},
    {.option = Option::maintain,
     .letters = "M",
     .long_value = V::choice,
     .ini_value = V::on_off,
     .field = in<&Options::paths, &PathOptions::maintain_dir_dates>,
     .also = in<&Options::paths, &PathOptions::make_dirs>},
    {.option = Option::milli, .long_value = V::flag, .field = in<&Options::logs, &LogOptions::milli>},
    {.option = Option::no_case,
     .long_value = V::flag,
     .field = in<&Options::copy, &CopyOptions::no_case>,
     .also = in<&Options::selection, &SelectionOptions::copy_all>},
    {.option = Option::no_dupe,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::copy, &CopyOptions::no_dupe>,
     .also = in<&Options::selection, &SelectionOptions::copy_all>},
    {.option = Option::overwrite,
     .letters = "O",
     .long_value = V::flag,
     .field = in<&Options::copy, &CopyOptions::overwrite_protected>},
    {.option = Option::path, .long_value = V::path, .ini_value = V::path},
    {.option = Option::retries, .long_value = V::count},
    {.option = Option::recurse,
     .long_value = V::on_off,
     .ini_value = V::on_off,
     .field = in<&Options::selection, &SelectionOptions::recurse>},
    {.option = Option::no_recurse,
     .letters = "r",
     .long_value = V::flag,
     .field = in<&Options::selection, &SelectionOptions::recurse>,
     .writes = false},
    {.option = Option::reset,
     .letters = "R",
     .long_value = V::on_off,
     .ini_value = V::on_off,
     .field = in<&Options::copy, &CopyOptions::reset_times>,
     .plus_clears = true},
    {.option = Option::shadow, .long_value = V::flag, .field = in<&Options::paths, &PathOptions::shadow_copy>},
    {.option = Option::sha1,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::hashing, &HashOptions::sha1>},
    {.option = Option::sha256,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::hashing, &HashOptions::sha256>},
    {.option = Option::sha384,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::hashing, &HashOptions::sha384>},
    {.option = Option::sha512,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::hashing, &HashOptions::sha512>},
    {.option = Option::test, .long_value = V::flag, .field = in<&Options::paths, &PathOptions::test_mode>},
    {.option = Option::flatten, .long_value = V::count, .ini_value = V::count},
    {.option = Option::width, .long_value = V::number, .ini_value = V::number},
    {.option = Option::zero, .long_value = V::flag, .field = in<&Options::copy, &CopyOptions::zero_dates>},
    {.option = Option::zulu,
     .letters = "z",
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::logs, &LogOptions::zulu_time>},
    {.option = Option::silent,
     .letters = "Vv",
     .long_value = V::on_off,
     .ini_value = V::on_off,
     .field = in<&Options::console, &ConsoleOptions::silent>},
    {.option = Option::dfxml, .long_value = V::path, .ini_value = V::path, .file = &LogOptions::dfxml_path},
    {.option = Option::audit_set, .long_value = V::path, .ini_value = V::path, .file = &LogOptions::audit_set_path},
    {.option = Option::seal,
     .long_value = V::flag,
     .ini_value = V::on_off,
     .field = in<&Options::logs, &LogOptions::seal>},
    {.option = Option::report, .long_value = V::path, .ini_value = V::path, .file = &LogOptions::report_path},
    {.option = Option::threads, .long_value = V::number, .ini_value = V::number},
    {.option = Option::append, .ini_value = V::on_off, .field = in<&Options::logs, &LogOptions::append>},
    // Accepted for older files; the value must still say on or off.
    {.option = Option::crc, .ini_value = V::on_off},
    {.option = Option::military, .ini_value = V::on_off},
    {.option = Option::name_only, .ini_value = V::on_off, .field = in<&Options::console, &ConsoleOptions::name_only>},
    {.option = Option::path_only, .ini_value = V::on_off, .field = in<&Options::console, &ConsoleOptions::path_only>},
    {.option = Option::display, .ini_value = V::number},
    {.option = Option::memo, .ini_value = V::path},
    {.option = Option::make_dirs,
     .letters = "m",
     .ini_value = V::on_off,
     .field = in<&Options::paths, &PathOptions::make_dirs>},
    {.option = Option::list_only, .ini_value = V::on_off},
    {.option = Option::time_field, .ini_value = V::text},
    {.option = Option::keep_dir_case,
     .letters = "Uu",
     .field = in<&Options::paths, &PathOptions::upper_case_dirs>,
     .writes = false},
});

constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < specs.size(); ++i) {
        if (static_cast<std::size_t>(specs[i].option) != i) {
            return false;
        }
    }
    return specs.back().option == Option::keep_dir_case;
}
static_assert(rows_in_order(), "one row per option, in the order of Option");

bool offered(Source word, Source wanted) {
    return (static_cast<unsigned>(word) & static_cast<unsigned>(wanted)) != 0;
}

bool matches(const OptionWord& word, std::string_view text) {
    const std::string_view compared = word.name.substr(0, word.letters);
    switch (word.match) {
        case Match::whole:
            return paths::equal_ignoring_case(text, compared);
        case Match::anywhere:
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
        if (offered(word.source, source) && matches(word, text)) {
            return word.option;
        }
    }
    return Option::none;
}

const OptionSpec& spec_of(Option option) {
    return specs.at(static_cast<std::size_t>(option));
}

Option letter_option(char letter) {
    for (const OptionSpec& spec : specs) {
        if (spec.letters.find(letter) != std::string_view::npos) {
            return spec.option;
        }
    }
    return Option::none;
}

std::optional<bool> switch_value(const std::optional<std::string_view>& word) {
    return word ? util::parse_switch(*word) : std::optional<bool>(true);
}

void set_flag(Options& o, const OptionSpec& spec, bool on) {
    if (spec.field != nullptr) {
        spec.field(o) = on;
    }
    if (spec.also != nullptr) {
        spec.also(o) = true;
    }
}

bool set_switch(Options& o, const OptionSpec& spec, const std::optional<std::string_view>& word) {
    const std::optional<bool> on = switch_value(word);
    if (!on) {
        return false;
    }
    set_flag(o, spec, *on);
    return true;
}

}  // namespace veldro::config
