#include "record/log_set.h"

#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/file_update.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "record/manifests.h"
#include "record/output_faults.h"
#include "record/run_header.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::record {

namespace {

constexpr std::string_view separator_row = "****************************************";  // 40
constexpr std::string_view abort_marker_text =
    "\nIF YOU ARE READING THIS, THERE MAY HAVE BEEN AN UNUSUAL PROGRAM ABORT ";

// What each member of the set is: its bit, name suffix, the console line
// printed (followed by the member's name) once it is open, and its header.
struct MemberInfo {
    unsigned bit;
    const char* suffix;
    const char* console_line;
    const char* header;
    std::FILE* OpenFiles::*stream;
};

constexpr std::array<MemberInfo, 7> members{{
    {log_list, "_LIST", "\nOpened files list ",
     "FILES PROCESSED | SIZE | CREATED DATE-TIME | MODIFIED DATE-TIME | ACCESSED DATE-TIME |", &OpenFiles::list_log},
    {log_copied, "_COPIED", "\nOpened copied list ",
     "FILES SUCCESSFULLY COPIED SIZE | SOURCE | Filler | DESTINATION | SOURCE CREATED DATE-TIME | MODIFIED DATE-TIME | "
     "ACCESSED DATE-TIME |\n",
     &OpenFiles::copied_log},
    {log_not_copied, "_NOT_COPIED", "\nOpened not copied list ", "FILES NOT COPIED", &OpenFiles::not_copied_log},
    {log_error, "_ERROR", "\nOpened error list ", "SOME FILES MAY NOT HAVE COPIED DUE TO SOME ERROR\n",
     &OpenFiles::error_log},
    {log_dupes, "_DUPE_FILES", "\nOpened renamed file list ",
     "FILES WHICH HAVE A SHORT FILENAME xxx~N AS LONG FILENAME AND HAVE BEEN RENAMED\n", &OpenFiles::dupes_log},
    {log_dir_counts, "_DIR-COUNTS", "\nOpened DIRECTORY file counts list ",
     " FILE COUNTS PER DIRECTORY\n Count:  SOURCE DIRECTORY\n", &OpenFiles::dir_count_log},
    {log_unicode, "_UNICODE_FILES", "\nOpened UNICODE names list ", "UNICODE FILENAMES OF COPIED FILES\r\n",
     &OpenFiles::unicode_log},
}};

bool starts_with_digit(std::string_view text) {
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

// The integer at the start of a mask text, as the C library reads it; a
// negative or unreadable value gives no bits.
unsigned integer_mask(std::string_view text) {
    const std::string copy(text);
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (value <= 0) {
        return 0;
    }
    return value > 0xFFFFFFFFLL ? 0xFFFFFFFFU : static_cast<unsigned>(value);
}

struct Keyword {
    std::string_view word;
    unsigned bits;
};

// Keyword masks found by substring search, so "copy" holds "cop".
unsigned keyword_mask(std::string_view text, bool with_all, bool with_unicode) {
    const std::array<Keyword, 8> command_line{{{"all", 255},
                                               {"list", log_list},
                                               {"cop", log_copied},
                                               {"not", log_not_copied},
                                               {"ERR", log_error},
                                               {"dup", log_dupes},
                                               {"DIR", log_dir_counts},
                                               {"UNI", log_unicode}}};
    unsigned mask = 0;
    for (const Keyword& k : command_line) {
        if ((k.bits == 255 && !with_all) || (k.bits == log_unicode && !with_unicode)) {
            continue;
        }
        if (text.find(k.word) != std::string_view::npos) {
            mask |= k.bits;
        }
    }
    return mask;
}

// The member's stream slot in the settings.
std::FILE*& member_stream(OpenFiles& files, const MemberInfo& m) {
    return files.*(m.stream);
}

void close_default_log(OpenFiles& files) {
    (void)close_output(files, files.default_log);  // a failure is said and kept there
}

// Opens one member and writes its header; ends the run when it cannot be opened.
void open_member(OpenFiles& files, const std::string& base_name, const MemberInfo& m) {
    const std::string name = member_name(base_name, m.bit);
    const bool unicode = m.bit == log_unicode;
    // The unicode log is opened by its full name: a name with characters
    // beyond eight bits still names the file the user asked for.
    note_written_file(files, name);
    std::FILE* stream = platform::open_stream(name, unicode ? "wb+" : "a+");
    if (stream == nullptr) {
        if (m.bit == log_dir_counts) {
            std::fputs("\ncan't open DIRECTORY COUNTS LOG FILE\n\n", stdout);
        } else if (unicode) {
            std::fputs("\ncan't open UNICODE FILENAME LOG FILE\n\n", stdout);
        }
        throw util::RunEnd{OUTPUT_FILE};
    }
    member_stream(files, m) = stream;
    name_output(files, stream, name);
    if (m.bit == log_error && (files.error_stream == nullptr || files.error_stream == stderr)) {
        // The error member is where the run's error lines go, unless -E
        // named a file for them.
        files.error_stream = stream;
    }
    std::fprintf(stdout, "%s%s", m.console_line, name.c_str());
    if (unicode) {
        const std::array<unsigned char, 2> byte_order_mark{0xFF, 0xFE};
        std::fwrite(byte_order_mark.data(), 1, byte_order_mark.size(), stream);
        write_unicode_text(stream, m.header);
        std::fflush(stream);
        return;
    }
    std::fseek(stream, 0, SEEK_END);
    std::fputs(m.header, stream);
    std::fflush(stream);
    platform::pause_seconds(1);
}

void record(Options& o, NamedFileKind kind, const std::string& name, unsigned mask = 0) {
    o.named_files.push_back(NamedFile{kind, name, mask, {}, {}});
}

// The common road of -1 and --LOG: marker, base name, the set to open.
void name_the_logs(Options& o, NamedFileKind kind, const LogValue& v, bool apply_marker) {
    o.logs.log_mask |= v.mask;
    o.logs.log_base_name = apply_marker ? apply_date_marker(v.name) : v.name;
    o.named_files.push_back(NamedFile{kind, o.logs.log_base_name, o.logs.log_mask, v.name, {}});
}

// An output file opened for appending; one that cannot be opened ends the run.
std::FILE* open_for_appending(OpenFiles& files, const std::string& file) {
    note_written_file(files, file);
    std::FILE* stream = platform::open_stream(file, "a+");
    if (stream == nullptr) {
        std::fprintf(stdout, "\ncan't open %s file \n\n", file.c_str());
        throw util::RunEnd{OUTPUT_FILE};
    }
    name_output(files, stream, file);
    std::fseek(stream, 0, SEEK_END);
    return stream;
}

void replace_stream(OpenFiles& files, std::FILE*& slot, std::FILE* stream) {
    (void)close_output(files, slot);  // a failure is said and kept there
    slot = stream;
}

// -1, --LOG and the INI log names: the directory, the default log, the members.
void open_log_set(Options& o, OpenFiles& files, const NamedFile& f) {
    make_log_directory(f.directory_of);
    if (f.kind == NamedFileKind::ini_logs && files.default_log != nullptr) {
        open_members_for_mask(files, f.name, f.mask);
        return;
    }
    if (!open_default_log(o.logs, files, f.name) && f.kind == NamedFileKind::long_log) {
        std::fprintf(stdout, "\nIllegal option: %s", f.option.c_str());
        throw util::RunEnd{ILLEGAL_OPTION};
    }
    open_members_for_mask(files, f.name, f.mask);
}

void open_error_file(OpenFiles& files, const std::string& name) {
    make_log_directory(name);
    std::FILE* stream = open_for_appending(files, name);
    if (files.error_stream != nullptr && files.error_stream != stderr && files.error_stream != files.error_log) {
        (void)close_output(files, files.error_stream);  // a failure is said and kept there
    }
    files.error_stream = stream;
}

void open_hash_log(OpenFiles& files, const std::string& name, bool with_companions) {
    make_log_directory(name);
    // A hash log named again replaces the earlier one (and its companions),
    // which are closed rather than left open and forgotten.
    for (std::FILE** earlier : {&files.hash_log, &files.hash_error_log, &files.hash_rerun_log}) {
        replace_stream(files, *earlier, nullptr);
    }
    files.hash_log = open_for_appending(files, name);
    if (with_companions) {
        files.hash_error_log = open_for_appending(files, hash_companion_name(name, "_ERROR"));
        files.hash_rerun_log = open_for_appending(files, hash_companion_name(name, "_RERUN"));
    }
}

// --UNICODE: emptied, and begun with its byte-order mark.
void open_unicode_list(OpenFiles& files, const std::string& name) {
    const std::string internal = paths::make_long_path(name);
    note_written_file(files, internal);
    std::FILE* stream = platform::open_stream(internal, "wb+");
    if (stream == nullptr) {
        std::fprintf(stdout, "\ncan't open %s file \n\n", name.c_str());
        throw util::RunEnd{OUTPUT_FILE};
    }
    name_output(files, stream, internal);
    replace_stream(files, files.unicode_list_stream, stream);
    const std::array<unsigned char, 2> byte_order_mark{0xFF, 0xFE};
    std::fwrite(byte_order_mark.data(), 1, byte_order_mark.size(), stream);
    std::fflush(stream);
}

// The memo file: one that cannot be opened is said and the run goes on.
void open_memo_file(OpenFiles& files, const std::string& name) {
    const std::string internal = paths::make_long_path(name);
    note_written_file(files, internal);
    std::FILE* stream = platform::open_stream(internal, "a+");
    if (stream == nullptr) {
        std::fprintf(stderr, "\nCan't open memo file %s\n", name.c_str());
        return;
    }
    name_output(files, stream, internal);
    replace_stream(files, files.memo_stream, stream);
}

// The file list: its lines are counted for the progress line (those that
// hold more than three bytes with their line end), then it is rewound.
void open_list_file(Options& o, OpenFiles& files, const std::string& name) {
    std::FILE* file = platform::open_stream(name, "r");
    if (file == nullptr) {
        std::fputs("\n\nCan't find source file to open\n", stderr);
        throw util::RunEnd{INPUT_FILE};
    }
    int count = 0;
    util::ListReader lines(file, "the file list", false, true);
    std::string line;
    while (lines.next(line)) {
        if (line.size() + 1 > 3) {
            ++count;
        }
    }
    std::rewind(file);
    replace_stream(files, files.list_file, file);
    o.paths.expected_files = count;
}

void open_named_file(Options& o, OpenFiles& files, const NamedFile& f) {
    switch (f.kind) {
        case NamedFileKind::default_log:
            open_default_log(o.logs, files, f.name);
            break;
        case NamedFileKind::log_set:
        case NamedFileKind::long_log:
        case NamedFileKind::ini_logs:
            open_log_set(o, files, f);
            break;
        case NamedFileKind::log_members:
            open_members_for_mask(files, f.name, f.mask);
            break;
        case NamedFileKind::close_log_set:
            close_default_log(files);
            o.logs.default_log_path.clear();
            break;
        case NamedFileKind::error_file:
            open_error_file(files, f.name);
            break;
        case NamedFileKind::hash_log:
        case NamedFileKind::hash_log_with_companions:
            open_hash_log(files, f.name, f.kind == NamedFileKind::hash_log_with_companions);
            break;
        case NamedFileKind::unicode_list:
            open_unicode_list(files, f.name);
            break;
        case NamedFileKind::memo:
            open_memo_file(files, f.name);
            break;
        case NamedFileKind::list_file:
            open_list_file(o, files, f.name);
            break;
        case NamedFileKind::console_note:
            std::fputs(f.name.c_str(), stdout);
            platform::pause_seconds(2);
            break;
    }
}

bool is_name_separator(char c) {
    return c == '\\' || paths::is_separator(c);
}

}  // namespace

// ---- reading a log value -----------------------------------------------

std::size_t find_mask_separator(std::string_view value) {
    for (const char sep : {'!', '|', ';'}) {
        const std::size_t at = value.find(sep);
        if (at != std::string_view::npos) {
            return at;
        }
    }
    return std::string_view::npos;
}

LogValue read_log_value(std::string_view value, LogSource source) {
    LogValue out;
    std::size_t at = find_mask_separator(value);
    if (at == std::string_view::npos && source == LogSource::long_option) {
        const std::size_t colon = value.find(':');
        if (colon != std::string_view::npos) {
            if (colon > 1) {
                at = colon;
            } else if (value.find(':', colon + 1) != std::string_view::npos) {
                out.colon_conflict = true;
                out.name = std::string(value);
                return out;
            }
        }
    }
    if (at == std::string_view::npos) {
        out.name = std::string(value);
        return out;
    }
    out.name = std::string(value.substr(0, at));
    const std::string_view mask_text = value.substr(at + 1);
    switch (source) {
        case LogSource::short_option:
            out.mask = util::contains_ignoring_case(mask_text, "all") ? 255U : integer_mask(mask_text);
            break;
        case LogSource::long_option:
            if (starts_with_digit(mask_text)) {
                out.mask = integer_mask(mask_text);
                if (out.mask > 255) {
                    out.mask |= 255U;
                }
            } else {
                out.mask = keyword_mask(mask_text, true, true);
            }
            break;
    }
    return out;
}

unsigned read_error_mask(std::string_view text) {
    const unsigned mask = starts_with_digit(text) ? integer_mask(text) : keyword_mask(text, false, false);
    return mask > 255 ? 255U : mask;
}

// ---- naming ----------------------------------------------------------

void name_log_set(Options& o, const std::string& value, bool apply_marker) {
    name_the_logs(o, NamedFileKind::log_set, read_log_value(value, LogSource::short_option), apply_marker);
    o.logs.abort_marker_name = o.logs.log_base_name + "X";
}

bool name_long_log(Options& o, const std::string& value, std::string_view option) {
    const LogValue v = read_log_value(value, LogSource::long_option);
    if (v.colon_conflict) {
        return false;
    }
    name_the_logs(o, NamedFileKind::long_log, v, true);
    o.named_files.back().option = std::string(option);
    return true;
}

bool add_error_mask(Options& o, const std::string& text) {
    if (text.empty()) {
        return false;
    }
    add_log_members(o, read_error_mask(text));
    return true;
}

void name_ini_logs(Options& o, const std::string& base_name, unsigned mask) {
    name_the_logs(o, NamedFileKind::ini_logs, LogValue{base_name, mask, false}, false);
}

void add_log_members(Options& o, unsigned mask) {
    o.logs.log_mask |= mask;
    if (!o.logs.log_base_name.empty()) {
        record(o, NamedFileKind::log_members, o.logs.log_base_name, o.logs.log_mask);
    }
}

void name_default_log_from_environment(Options& o) {
    const auto value = platform::get_environment("ACCT");
    if (!value || value->empty()) {
        return;
    }
    record(o, NamedFileKind::default_log, paths::equal_ignoring_case(*value, "ON") ? std::string("ACCT-ING") : *value);
}

void name_error_file(Options& o, const std::string& name) {
    o.logs.error_file_given = true;
    record(o, NamedFileKind::error_file, name);
}

void name_hash_log(Options& o, const std::string& name, bool with_companions) {
    o.hashing.hash_log_path = name;
    record(o, with_companions ? NamedFileKind::hash_log_with_companions : NamedFileKind::hash_log, name);
}

void drop_log_set(Options& o) {
    o.logs.log_mask = 0;
    record(o, NamedFileKind::close_log_set, {});
}

// ---- opening -----------------------------------------------------------

void open_named_files(Options& o, OpenFiles& files) {
    const std::vector<NamedFile> named = std::move(o.named_files);
    o.named_files.clear();
    for (const NamedFile& f : named) {
        open_named_file(o, files, f);
    }
}

void open_members_for_mask(OpenFiles& files, const std::string& base_name, unsigned mask) {
    if (base_name.empty()) {
        return;
    }
    for (const MemberInfo& m : members) {
        if ((mask & m.bit) != 0 && member_stream(files, m) == nullptr) {
            open_member(files, base_name, m);
        }
    }
}

bool open_default_log(LogOptions& logs, OpenFiles& files, const std::string& name) {
    make_log_directory(name);
    prepare_append_file(name);
    note_written_file(files, name);
    std::FILE* stream = platform::open_stream(name, "a+");
    if (stream == nullptr) {
        std::fprintf(stdout, "Can't open accounting file %s\n", name.c_str());
        return false;
    }
    close_default_log(files);
    files.default_log = stream;
    name_output(files, stream, name);
    logs.default_log_path = name;
    std::fseek(stream, 0, SEEK_END);
    std::fprintf(stream, "\n%.40s\n", separator_row.data());
    std::fflush(stream);
    return true;
}

// ---- names -------------------------------------------------------------

const char* member_suffix(unsigned bit) {
    for (const MemberInfo& m : members) {
        if (m.bit == bit) {
            return m.suffix;
        }
    }
    return "";
}

std::string member_name(const std::string& base_name, unsigned bit) {
    const paths::PathParts parts = paths::split(base_name);
    std::string name = parts.drive + parts.directory + parts.name + member_suffix(bit);
    name += parts.extension.empty() ? std::string(".LOG") : parts.extension;
    return name;
}

std::string hash_companion_name(const std::string& hash_log_name, const char* suffix) {
    const paths::PathParts parts = paths::split(hash_log_name);
    return parts.drive + parts.directory + parts.name + suffix + parts.extension;
}

std::string apply_date_marker(const std::string& name, int year, int month, int day) {
    std::size_t marker = std::string::npos;
    for (const std::string_view word : {std::string_view("MMDD"), std::string_view("YYMM")}) {
        for (std::size_t at = name.find(word); at != std::string::npos; at = name.find(word, at + 1)) {
            if (at > 0 && is_name_separator(name[at - 1])) {
                marker = at;
                break;
            }
        }
        if (marker != std::string::npos) {
            break;
        }
    }
    if (marker == std::string::npos) {
        return name;
    }
    // The extension is the marker component's own: a '.' in a directory
    // name before the marker must not be taken for it.
    const std::size_t dot = name.find('.', marker);
    std::array<char, 32> date{};
    std::snprintf(date.data(), date.size(), "%4d%02d%02d", year, month, day);
    std::string out = name.substr(0, marker) + date.data();
    if (dot != std::string::npos) {
        out += name.substr(dot);
    }
    return out;
}

std::string apply_date_marker(const std::string& name) {
    const platform::CalendarFields today = utc_calendar(platform::now_seconds());
    return apply_date_marker(name, today.year, today.month, today.day);
}

namespace {

// A log directory that could not be made: the opening of the log in it
// then fails without a reason of its own, so the reason is said here.
void say_directory_not_made(const std::string& directory, const std::error_code& error) {
    if (error && !platform::is_directory(directory)) {
        std::fprintf(stderr, "\nCan't create the directory %s (%s)\n", paths::shown_path(directory).c_str(),
                     platform::error_text(error).c_str());
    }
}

}  // namespace

void make_log_directory(const std::string& log_path) {
    const paths::PathParts parts = paths::split(log_path);
    if (parts.directory.empty()) {
        return;
    }
    const std::string directory = parts.drive + paths::without_trailing_separator(parts.directory);
    if (platform::is_directory(directory)) {
        return;
    }
    // Each missing ancestor first, then the directory itself. The walk
    // starts past the drive and the root's own separator.
    for (std::size_t i = parts.drive.size() + 1; i < directory.size(); ++i) {
        if (!paths::is_separator(directory[i])) {
            continue;
        }
        const std::string prefix = directory.substr(0, i);
        if (!platform::path_exists(prefix)) {
            const std::error_code error = platform::create_directory(prefix);
            std::fprintf(stdout, "Creating (log\\error) directory:  %s\n", prefix.c_str());
            say_directory_not_made(prefix, error);
        }
    }
    const std::error_code error = platform::create_directory(directory);
    std::fprintf(stdout, "Creating (log) directory:  %s\n", directory.c_str());
    say_directory_not_made(directory, error);
    platform::pause_seconds(1);
}

// ---- the default log file and the abort marker -------------------------

void prepare_append_file(const std::string& path) {
    platform::FileHandle file;
    if (platform::open_or_create_for_update(path, file)) {
        std::fprintf(stderr, "\n%s\n%d\nerror opening ", ".\\Generic_u", 324);
        std::fprintf(stderr, " %s\n", path.c_str());
        throw util::RunEnd{1, false};
    }
    // Find where the trailing run of end-of-file marks and NUL bytes
    // begins. Only such padding is cut: text after a stray mark in the
    // middle of the file is never thrown away.
    std::vector<unsigned char> buffer(std::size_t{1} << 16U);
    std::uint64_t size = 0;
    std::uint64_t padding_start = 0;
    bool in_padding = false;
    for (;;) {
        std::size_t got = 0;
        if (platform::read_some(file, buffer.data(), buffer.size(), got)) {
            return;  // unreadable: leave the file as it is
        }
        if (got == 0) {
            break;
        }
        for (std::size_t i = 0; i < got; ++i) {
            const unsigned char byte = buffer[static_cast<std::size_t>(i)];
            const bool pad = byte == 0 || byte == 26;
            if (pad && !in_padding) {
                padding_start = size + static_cast<std::uint64_t>(i);
            }
            in_padding = pad;
        }
        size += static_cast<std::uint64_t>(got);
    }
    if (size > 9 && in_padding) {
        // Padding left in place would stand between the earlier runs' text
        // and this run's: a reader that stops at an end-of-file mark would
        // not see this run. The run goes on, and says so.
        if (const std::error_code error = platform::truncate_file(file, padding_start)) {
            std::fprintf(stderr, "\nCan't cut the padding at the end of %s (%s)\n", paths::shown_path(path).c_str(),
                         platform::error_text(error).c_str());
        }
    }
}

void write_tilde_note(OpenFiles& files, bool check_tilde) {
    if (files.dupes_log != nullptr) {
        std::fputs(check_tilde ? "Check Tilde Duplicate Names Used\n" : "Check Tilde Duplicate Names NOT CHECKED\n",
                   files.dupes_log);
    }
}

void create_abort_marker(Run& s) {
    if (s.logs.abort_marker_name.size() <= 2) {
        return;
    }
    note_written_file(s.files, s.logs.abort_marker_name);
    std::FILE* marker = platform::open_stream(s.logs.abort_marker_name, "w");
    if (marker == nullptr) {
        return;
    }
    std::fwrite(abort_marker_text.data(), 1, abort_marker_text.size(), marker);
    std::fclose(marker);
}

void remove_abort_marker(const Run& s) {
    if (s.logs.abort_marker_name.size() > 2) {
        // A marker left behind would say that a finished run was cut short.
        const std::error_code error = platform::delete_file(s.logs.abort_marker_name);
        if (error && platform::path_exists(s.logs.abort_marker_name)) {
            std::fprintf(stderr, "\nCan't remove the abort marker %s (%s)\n", s.logs.abort_marker_name.c_str(),
                         platform::error_text(error).c_str());
        }
    }
}

// ---- writing -----------------------------------------------------------

void write_unicode_text(std::FILE* stream, std::string_view utf8) {
    if (stream == nullptr) {
        return;
    }
    // Gathered in a small buffer of the call's own (records are written for
    // every file: no allocation), handed to the stream whenever it is full.
    std::array<char, 512> bytes{};
    std::size_t used = 0;
    auto add = [&](char16_t unit) {
        if (used + 2 > bytes.size()) {
            std::fwrite(bytes.data(), 1, used, stream);
            used = 0;
        }
        bytes.at(used++) = static_cast<char>(unit & 0xFFU);
        bytes.at(used++) = static_cast<char>(unit >> 8U);
    };
    char16_t previous = 0;
    auto put = [&](char16_t unit) {
        if (unit == u'\n' && previous != u'\r') {
            add(u'\r');
        }
        add(unit);
        previous = unit;
    };
    if (util::has_non_ascii(utf8)) {
        for (const char16_t unit : util::utf8_to_utf16(utf8)) {
            put(unit);
        }
    } else {
        for (const char c : utf8) {
            put(static_cast<char16_t>(c));
        }
    }
    std::fwrite(bytes.data(), 1, used, stream);
}

}  // namespace veldro::record
