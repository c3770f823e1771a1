// The one table of options: for every option the words that name it on the
// command line (short letters, long keywords after "--") and in the INI
// file, how many leading letters of each word are compared, what value it
// takes from each source, and which setting it writes. The command line,
// the long-option and the INI parsers all read it, so that a rule about
// option words (matching, value kinds, on/off words) is written once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "run/options.h"

namespace veldro::config {

// Every option any source can set. The INI-only and letter-only options
// follow the long keywords.
enum class Option : std::uint8_t {
    none,  // no word matched
    all,
    log,
    ads_extract,
    ads_parent,
    ads_child,
    older,
    younger,
    bypass,
    exclude,
    check_tilde,
    destination,
    delimiter,
    dirs,
    error_mask,
    exist,
    greater,
    hash_log,
    unicode,
    hash,
    immediate,
    less,
    list,
    maintain,
    milli,
    no_case,
    no_dupe,
    overwrite,
    path,
    retries,
    recurse,
    no_recurse,
    reset,
    shadow,
    sha1,
    sha256,
    sha384,
    sha512,
    test,
    flatten,
    width,
    zero,
    zulu,
    silent,
    dfxml,
    audit_set,
    seal,
    report,
    case_number,
    exhibit,
    examiner,
    notes,
    threads,
    verify_media,
    verify,
    quiet,
    // INI directives without a long keyword.
    append,
    crc,
    military,
    name_only,
    path_only,
    display,
    memo,
    make_dirs,
    list_only,
    time_field,
    // Short letters without a word.
    keep_dir_case,  // -U: directory names keep their case
};

// What an option takes from one source.
enum class Value : std::uint8_t {
    absent,        // the source does not offer the option
    flag,          // no value; one that is given is ignored
    on_off,        // an optional on/off word; written alone it means on
    count,         // an optional whole number
    choice,        // an optional word or letter that picks a mode
    number,        // a whole number
    size,          // a byte count, digits with an optional K, M, G or T
    days_or_date,  // a number of days, or a date mm-dd-yyyy
    path,          // a file or directory
    text,          // a name with a mask, a character, a letter
};

// The command line needs a value after '=' for these kinds.
bool needs_value(Value kind);

enum class Source : std::uint8_t { long_option = 1, ini = 2, both = 3 };

enum class Match : std::uint8_t {
    leading,   // the text begins with the word's first `letters` letters
    whole,     // the whole text is the word, value included
    anywhere,  // the word appears in the text before its first '='
};

// One word naming an option: its full name and how many of its leading
// letters are compared (any case), the fewest a user must give. An option
// named by more than one word (--BEF for --OLD) has a word for each. Words
// are tried in the table's order; the first match wins. A long option must
// be the word itself or a shortening of it down to that many letters: a
// longer or different word is never taken for it. An INI directive only
// begins with those letters (SILENT is matched on SILEN, so SILENCE too).
struct OptionWord {
    std::string_view name;
    std::uint8_t letters;
    Option option;
    Source source;
    Match match = Match::leading;
};

// The words in the order they are tried, for the long options and the INI
// directives together.
std::span<const OptionWord> option_words();

// The first option a source's word matches at the start of `text` (the
// text after "--", or an INI line), or Option::none.
Option match_option(std::string_view text, Source source);

// For a long option that names no keyword (the text after "--", before any
// '='): the one keyword it is close to (a shortening too short for it, or
// a word a letter or two away), for "did you mean". Empty when none is
// close, or several options are equally close.
std::string_view closest_long_keyword(std::string_view word);

using Switch = bool& (*)(Options&);

struct OptionRow {
    Option option = Option::none;
    std::string_view letters = {};  // short letters that set `field` with no value
    Value long_value = Value::absent;
    Value ini_value = Value::absent;
    Switch field = nullptr;                   // the setting a flag or an on/off word writes
    Switch also = nullptr;                    // a setting turned on whenever the option is used
    bool writes = true;                       // what a flag writes into `field`
    bool plus_clears = false;                 // '+' before the letter writes the opposite
    std::string LogOptions::*file = nullptr;  // the file a path value names, or the words a text keeps
};

// The row of an option.
const OptionRow& row_of(Option option);

// The option a short letter sets by itself, or Option::none.
Option letter_option(char letter);

// The value of an on/off word, or on when none is given; nothing when the
// word says neither.
std::optional<bool> switch_value(const std::optional<std::string_view>& word);

// Writes a flag (`on` into its field, the `also` setting on).
void set_flag(Options& o, const OptionRow& row, bool on);

// An on/off option given `word` (or none): false when the word says
// neither on nor off, and nothing is written then.
bool set_switch(Options& o, const OptionRow& row, const std::optional<std::string_view>& word);

}  // namespace veldro::config
