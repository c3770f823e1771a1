#include "config/ini.h"

#include <array>
#include <cstdio>
#include <optional>

#include "config/long_options.h"
#include "config/option_table.h"
#include "config/option_values.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "record/log_set.h"
#include "record/manifests.h"
#include "util/lines.h"
#include "util/numbers.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "util/wtf8.h"
#include "walk/sources.h"

namespace veldro::config {

namespace {

// One directive line taken apart. `upper` is the line upper-cased, as it
// is matched and echoed; the value keeps the case it was written in, since
// paths on Linux are case-sensitive.
struct IniLine {
    std::string upper;
    std::string name;  // upper-cased text before the first '='
    bool has_equals = false;
    std::string value;        // text after the first '=', as written
    std::string value_upper;  // the same upper-cased
    int number = 0;           // its line in the file, 0 when not read from one
    [[nodiscard]] bool has_value() const { return !value.empty(); }
};

IniLine split_line(std::string_view line, int number) {
    IniLine out;
    out.number = number;
    out.upper = util::to_upper(line);
    const std::size_t equals = line.find('=');
    out.has_equals = equals != std::string_view::npos;
    out.name = out.upper.substr(0, out.has_equals ? equals : out.upper.size());
    if (out.has_equals) {
        out.value = std::string(line.substr(equals + 1));
        out.value_upper = util::to_upper(out.value);
    }
    return out;
}

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

// A value its directive cannot take: the line is named and the run ends
// with ILLEGAL_OPTION, rather than the setting going some way not meant.
[[noreturn]] void refuse_value(const IniLine& line) {
    std::fprintf(stderr, "\nIllegal value in ini file line %d: %s\n", line.number, line.upper.c_str());
    throw util::RunEnd{ILLEGAL_OPTION};
}

// The value as an on/off option reads it: nothing when the line has none.
std::optional<std::string_view> word_of(const IniLine& line) {
    return line.has_value() ? std::optional<std::string_view>(line.value) : std::nullopt;
}

// The on/off meaning of a value, refused when it has none.
bool switch_value(const IniLine& line) {
    const std::optional<bool> on = config::switch_value(word_of(line));
    if (!on) {
        refuse_value(line);
    }
    return *on;
}

std::int64_t size_of(const IniLine& line) {
    const std::optional<std::int64_t> size = util::parse_size(line.value);
    if (!size) {
        refuse_value(line);
    }
    return *size;
}

std::int64_t integer_of(const IniLine& line) {
    const std::optional<std::int64_t> number = util::parse_integer(line.value);
    if (!number) {
        refuse_value(line);
    }
    return *number;
}

int number_of(const IniLine& line) {
    const std::optional<int> number = util::parse_int(line.value);
    if (!number) {
        refuse_value(line);
    }
    return *number;
}

// The message of a directive without its value (its text, then the line).
// Printed at once; or, when files named on earlier lines are still to be
// opened, in its place after them, as if they had been opened where named.
void missing_value(OptionTarget& s, const char* text, const IniLine& line, const char* more = "") {
    std::string message = text + line.upper + more;
    if (!s.options.named_files.empty()) {
        s.options.named_files.push_back(NamedFile{NamedFileKind::console_note, std::move(message), 0, {}, {}});
        return;
    }
    std::fputs(message.c_str(), stdout);
    platform::pause_seconds(2);
}

void missing_directive(OptionTarget& s, const IniLine& line) {
    missing_value(s, "\nMissing ini directive ", line);
}

// ---- the log directive -------------------------------------------------

bool is_off_word(std::string_view text) {
    const std::string trimmed = util::to_upper(text);
    const std::size_t first = trimmed.find_first_not_of(' ');
    const std::size_t last = trimmed.find_last_not_of(' ');
    return first != std::string::npos && trimmed.substr(first, last - first + 1) == "OFF";
}

struct LogKeyword {
    std::string_view word;
    unsigned bits;
};

constexpr std::array<LogKeyword, 8> log_keywords{{{"all", 255},
                                                  {"list", log_list},
                                                  {"cop", log_copied},
                                                  {"not", log_not_copied},
                                                  {"dup", log_dupes},
                                                  {"err", log_error},
                                                  {"dir", log_dir_counts},
                                                  {"uni", log_unicode}}};

// An INI mask text: a number (128 and more select every log) or keywords
// found anywhere in the lower-cased text.
unsigned ini_log_mask(std::string_view mask_text) {
    const std::string lowered = util::to_lower(mask_text);
    if (!lowered.empty() && lowered[0] >= '0' && lowered[0] <= '9') {
        const std::int64_t number = leading_int64(lowered);
        unsigned mask = number <= 0 ? 0U : static_cast<unsigned>(number > 0xFFFF ? 0xFFFF : number);
        if (mask > 127) {
            mask |= 127U;
        }
        return mask;
    }
    unsigned mask = 0;
    for (const LogKeyword& k : log_keywords) {
        if (contains(lowered, k.word)) {
            mask |= k.bits;
        }
    }
    return mask;
}

// A LOGS value such as "list,cop" names logs, not a file: every word in it
// is a log keyword (or it is a number).
bool is_mask_only(std::string_view value) {
    if (value.empty()) {
        return false;
    }
    if (value[0] >= '0' && value[0] <= '9') {
        return true;
    }
    const std::string lowered = util::to_lower(value);
    std::size_t start = 0;
    while (start <= lowered.size()) {
        std::size_t end = lowered.find_first_of(", ", start);
        if (end == std::string::npos) {
            end = lowered.size();
        }
        const std::string_view word = std::string_view(lowered).substr(start, end - start);
        if (!word.empty()) {
            bool known = false;
            for (const LogKeyword& k : log_keywords) {
                known = known || word.starts_with(k.word);
            }
            if (!known) {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

void apply_log_directive(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_value(s, "\nMissing ini file modifier at: ", line);
        s.logs.log_mask = 0;
        return;
    }
    // Only a value (or a mask) that is OFF turns the logs off: a name such
    // as D:\OFFICE\RUN.LOG is a name.
    if (is_off_word(line.value)) {
        s.logs.log_mask = 0;
        return;
    }
    const std::size_t at = record::find_mask_separator(line.value);
    if (at == std::string::npos) {
        if (line.name.starts_with("LOGS") && is_mask_only(line.value)) {
            record::add_log_members(s.options, ini_log_mask(line.value));
            return;
        }
        record::name_ini_logs(s.options, line.value, 0);
        return;
    }
    const std::string_view mask_text = std::string_view(line.value).substr(at + 1);
    if (is_off_word(mask_text)) {
        s.logs.log_mask = 0;
        return;
    }
    record::name_ini_logs(s.options, line.value.substr(0, at), ini_log_mask(mask_text));
}

// ---- other directives with more to do ----------------------------------

// HASH=ON (or another on word) hashes both sides, S... the source only,
// D... the copy only, OFF (or another off word) nothing; HASH alone
// leaves hashing off.
void apply_hash(OptionTarget& s, const IniLine& line) {
    HashOptions& mode = s.hashing;
    mode.hash_none();
    if (!line.has_value()) {
        return;
    }
    const std::string& v = line.value_upper;
    if (const std::optional<bool> on = util::parse_switch(v)) {
        if (*on) {
            mode.hash_both();
        }
    } else if (v.starts_with('S')) {
        mode.hash_sources = true;
    } else if (v.starts_with('D')) {
        mode.hash_copies = true;
    } else {
        refuse_value(line);
    }
}

void apply_delim(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        s.console.delim_on = false;
        return;
    }
    if (contains(line.value_upper, "OFF")) {
        s.console.delim_on = false;
        return;
    }
    const std::optional<char> code = line.value.size() == 1 ? line.value[0] : character_code(line.value);
    if (!code) {
        refuse_value(line);
    }
    s.console.delim_on = true;
    s.console.delimiter = *code;
}

// FLAT alone or FLAT=ON flattens; FLAT=n gives at most n files per folder
// (FLAT=0 and FLAT=1 are off and on); FLAT=OFF does not flatten.
void apply_flatten(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        s.copy.flatten = 1;
        return;
    }
    if (const std::optional<int> count = util::parse_int(line.value); count && *count >= 0) {
        s.copy.flatten = *count;
        return;
    }
    s.copy.flatten = switch_value(line) ? 1 : 0;
}

// Where the memo goes when MEMO names no file: asked on the console.
std::optional<std::string> choose_output_file() {
    std::fputs("\nOutput File Selection: ", stdout);
    std::fflush(stdout);
    std::string answer;
    if (!read_text_line(stdin, answer) || answer.empty()) {
        return std::nullopt;
    }
    return answer;
}

void apply_memo(OptionTarget& s, const IniLine& line) {
    s.logs.memo = true;
    if (is_off_word(line.value)) {
        s.logs.memo = false;
        return;
    }
    std::optional<std::string> file;
    if (!line.has_equals) {
        file = choose_output_file();
    } else if (line.has_value()) {
        file = line.value;
    }
    if (!file) {
        return;
    }
    s.logs.memo_path = *file;
    s.options.named_files.push_back(NamedFile{NamedFileKind::memo, *file, 0, {}, {}});
}

void apply_age(OptionTarget& s, const IniLine& line, AgeBound bound) {
    if (line.has_value() && !is_date_form(line.value) && !util::parse_int(line.value)) {
        refuse_value(line);
    }
    if (!line.has_value()) {
        missing_value(
            s, bound == AgeBound::younger ? "\nMissing ini modifier at: " : "\nMissing ini file modifier at: ", line,
            "\nAging modifier turned off");
        s.selection.age_select = false;
        return;
    }
    apply_age_value(s, bound, line.value);
}

void apply_destination(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        return;
    }
    s.paths.dest_given = true;
    set_destination(s, line.value);
}

void apply_bypass(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        // Bypass entries of earlier lines stay in force.
        s.selection.bypass_mode = !s.selection.bypass_list.empty();
        return;
    }
    s.selection.bypass_mode = true;
    s.selection.bypass_list.push_back(bypass_entry(line.value));
}

void apply_threads(OptionTarget& s, const IniLine& line) {
    const std::optional<unsigned> count = thread_count_value(line.value);
    if (!count) {
        refuse_value(line);
    }
    s.options.threads = *count;
}

void apply_display(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        return;
    }
    s.console.display_value = is_off_word(line.value) ? 0 : integer_of(line);
}

void apply_list(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
    }
    s.copy.list_only = line.has_value() && switch_value(line) ? ListOnly::names : ListOnly::off;
}

void apply_maintain(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        s.paths.maintain_dir_dates = false;
        return;
    }
    s.paths.maintain_dir_dates = switch_value(line);
    if (s.paths.maintain_dir_dates) {
        s.paths.make_dirs = true;
    }
}

// GREAT and LESS: the bound is in force only with its size.
void apply_size(OptionTarget& s, const IniLine& line, bool& select, std::int64_t& size) {
    select = line.has_value();
    if (!line.has_value()) {
        missing_directive(s, line);
        return;
    }
    size = size_of(line);
}

void apply_make(OptionTarget& s, const IniLine& line) {
    if (line.has_value()) {
        s.paths.make_dirs = switch_value(line);
    }
}

void apply_path(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_value(s, "\nMissing/Illegal ini file directive ", line);
        return;
    }
    s.paths.path_given = true;
    walk::add_source_path(s, line.value);
}

void apply_time(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        return;
    }
    if (!is_time_letter(line.value_upper[0])) {
        refuse_value(line);
    }
    s.selection.time_field = static_cast<unsigned char>(line.value_upper[0]);
}

void apply_width(OptionTarget& s, const IniLine& line) {
    if (!line.has_value()) {
        missing_directive(s, line);
        return;
    }
    s.console.name_width = checked_name_width(number_of(line));
    s.console.width_state += 1;
}

// The directives that do more than turn a setting on or off or name a file
// of their own. False for the others.
bool apply_special(OptionTarget& s, Option option, const IniLine& line) {
    switch (option) {
        case Option::log:
            apply_log_directive(s, line);
            break;
        case Option::bypass:
            apply_bypass(s, line);
            break;
        case Option::delimiter:
            apply_delim(s, line);
            break;
        case Option::destination:
            apply_destination(s, line);
            break;
        case Option::display:
            apply_display(s, line);
            break;
        case Option::hash:
            apply_hash(s, line);
            break;
        case Option::list_only:
            apply_list(s, line);
            break;
        case Option::maintain:
            apply_maintain(s, line);
            break;
        case Option::greater:
            apply_size(s, line, s.selection.greater_select, s.selection.greater_size);
            break;
        case Option::less:
            apply_size(s, line, s.selection.less_select, s.selection.less_size);
            break;
        case Option::memo:
            apply_memo(s, line);
            break;
        case Option::make_dirs:
            apply_make(s, line);
            break;
        case Option::flatten:
            apply_flatten(s, line);
            break;
        case Option::younger:
            apply_age(s, line, AgeBound::younger);
            break;
        case Option::older:
            apply_age(s, line, AgeBound::older);
            break;
        case Option::path:
            apply_path(s, line);
            break;
        case Option::time_field:
            apply_time(s, line);
            break;
        case Option::width:
            apply_width(s, line);
            break;
        case Option::threads:
            apply_threads(s, line);
            break;
        default:
            return false;
    }
    return true;
}

void apply_directive(OptionTarget& s, const OptionRow& row, const IniLine& line) {
    if (apply_special(s, row.option, line)) {
        return;
    }
    if (row.file != nullptr) {
        if (!line.has_value()) {
            missing_directive(s, line);
            return;
        }
        s.logs.*row.file = line.value;
        return;
    }
    if (!set_switch(s.options, row, word_of(line))) {
        refuse_value(line);
    }
}

// The lines of a text already read, as a list reader gives them.
class TextLines {
public:
    explicit TextLines(std::string_view text) : rest_(text) {}
    bool next(std::string& line) {
        if (rest_.empty()) {
            return false;
        }
        const std::size_t end = rest_.find('\n');
        line.assign(rest_.substr(0, end));
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ++number_;
        return true;
    }
    [[nodiscard]] int line_number() const { return number_; }

private:
    std::string_view rest_;
    int number_ = 0;
};

constexpr std::size_t most_utf16_ini_bytes = std::size_t{1} << 20;

// An INI file that cannot be read as the text it says it is: refused whole,
// before any of its settings is applied.
[[noreturn]] void refuse_ini_file(const std::string& path, const char* why) {
    std::fprintf(stderr, "\nThe ini file %s can't be read: %s\n",
                 std::string(paths::display_path(paths::make_long_path(path))).c_str(), why);
    throw util::RunEnd{ILLEGAL_OPTION};
}

// The rest of an INI file that began with a UTF-16 byte-order mark, as
// UTF-8 text.
std::string utf16_ini_text(std::FILE* file, const std::string& path, bool little_endian) {
    std::string bytes;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        bytes.append(buffer.data(), got);
        if (bytes.size() > most_utf16_ini_bytes) {
            refuse_ini_file(path, "it is larger than 1 MiB");
        }
    }
    if (std::ferror(file) != 0) {
        refuse_ini_file(path, "reading it failed");
    }
    if (bytes.size() % 2 != 0) {
        refuse_ini_file(path, "it begins as UTF-16 but holds an odd number of bytes");
    }
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[(2 * i) + 1]);
        units[i] = static_cast<char16_t>(little_endian ? (second << 8U) | first : (first << 8U) | second);
        if (units[i] == u'\0') {
            refuse_ini_file(path, "it holds a NUL character");
        }
    }
    return util::utf16_to_wtf8(units.data(), units.size());
}

// A UTF-8 byte-order mark is no part of the first line.
void skip_utf8_mark(std::FILE* file) {
    std::array<char, 3> mark{};
    if (std::fread(mark.data(), 1, mark.size(), file) != mark.size() || mark[0] != '\xEF' || mark[1] != '\xBB' ||
        mark[2] != '\xBF') {
        std::rewind(file);
    }
}

// The directives of an INI file, line by line: all of the own file, the
// [BASE] section of the shared one.
template <class Lines>
void read_directives(OptionTarget& s, Lines& lines, const std::string& path, IniFileKind kind) {
    std::string line;
    if (kind == IniFileKind::shared) {
        bool found = false;
        while (!found && lines.next(line)) {
            found = contains(util::to_upper(line), "[BASE]");
        }
        if (!found) {
            return;
        }
    }
    s.logs.ini_processed = true;
    s.logs.ini_path = std::string(paths::display_path(paths::make_long_path(path)));
    while (lines.next(line)) {
        // The first line shorter than two characters ends the settings.
        if (line.size() < 2) {
            break;
        }
        if (kind == IniFileKind::shared && contains(util::to_upper(line), "[BASE]")) {
            break;
        }
        if (line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (!apply_ini_line(s, line, lines.line_number())) {
            // A misspelt directive must not quietly leave its setting out;
            // the line itself is not shown, the file and its number are.
            std::fprintf(stderr, "\nWarning: line %d of the ini file %s is no directive and is ignored\n",
                         lines.line_number(), s.logs.ini_path.c_str());
        }
    }
}

std::string ini_name_beside_program() {
    const std::string program = platform::program_path();
    if (program.empty()) {
        return {};
    }
    const paths::PathParts parts = paths::split(program);
    return parts.drive + parts.directory + parts.name + ".ini";
}

bool is_readable_file(const std::string& path) {
    return !path.empty() && platform::path_exists(path) && !platform::is_directory(path);
}

}  // namespace

bool apply_ini_line(OptionTarget& s, std::string_view line, int line_number) {
    const Option option = match_option(line, Source::ini);
    if (option == Option::none) {
        return false;
    }
    const IniLine parts = split_line(line, line_number);
    s.logs.ini_echo += "\n ";
    s.logs.ini_echo += parts.upper;
    apply_directive(s, row_of(option), parts);
    return true;
}

void read_ini_from(OptionTarget& s, const std::string& path, IniFileKind kind) {
    std::FILE* file = platform::open_stream(path, "rb");
    if (file == nullptr) {
        return;
    }
    std::array<unsigned char, 2> mark{};
    const bool two = std::fread(mark.data(), 1, mark.size(), file) == mark.size();
    const bool little = two && mark[0] == 0xFF && mark[1] == 0xFE;
    if (little || (two && mark[0] == 0xFE && mark[1] == 0xFF)) {
        std::string text;
        try {
            text = utf16_ini_text(file, path, little);
        } catch (...) {
            std::fclose(file);
            throw;
        }
        std::fclose(file);
        TextLines lines(text);
        read_directives(s, lines, path, kind);
        return;
    }
    std::fclose(file);
    file = platform::open_stream(path, "r");
    if (file == nullptr) {
        return;
    }
    skip_utf8_mark(file);
    util::ListReader lines(file, "the ini file");
    try {
        read_directives(s, lines, path, kind);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    std::fclose(file);
}

void read_ini_file(OptionTarget& s) {
    const std::string own = ini_name_beside_program();
    if (is_readable_file(own)) {
        read_ini_from(s, own, IniFileKind::own);
        return;
    }
    const std::string shared = paths::join(platform::current_directory(), "KANDRELX.INI");
    if (is_readable_file(shared)) {
        read_ini_from(s, shared, IniFileKind::shared);
    }
}

}  // namespace veldro::config
