// The three extraction modes: the named streams of a copied file become
// ordinary files "name[stream]" beside the copy (--ADSEXTRACT,
// --ADSPARENT), or in place of it (--ADSCHILD), and with hashing their
// digests go to the hash log.
#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

#include "ads/streams.h"
#include "copy/times.h"
#include "hash/file_digest.h"
#include "logs/manifests.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::ads {

namespace {

constexpr const char* modes_module = ".\\ads_veldro_test";
constexpr std::size_t copy_buffer_size = std::size_t{1} << 20U;
constexpr const char* source_filler = "  SOURCE_FILE FILLER        |      SOURCE_FILE FILLER      |";

bool hashing_source(const HashOptions& mode) {
    return mode.hash_sources;
}
bool hashing_destination(const HashOptions& mode) {
    return mode.hash_copies;
}
bool comparing(const HashOptions& mode) {
    return mode.compare;
}

// Working state kept from one stream to the next.
struct ExtractState {
    hash::DigestReader reader;
    hash::HashSet source_digests;
    hash::HashSet destination_digests;
    hash::Md5Text md5_text{};
    std::string stream_file;
    std::string source_text;
    std::string destination_text;
    std::string base;
    std::string temp_path;
    std::vector<unsigned char> copy_buffer;
};

ExtractState& state() {
    static ExtractState extract_state;
    return extract_state;
}

std::FILE* error_stream(const Run& s) {
    return s.files.error_stream != nullptr ? s.files.error_stream : stderr;
}

// A stream that could be copied by neither way, or whose name may not
// become part of a file name: it is reported (with the reason when there
// is one beyond a failed copy) and the run does not end as a success.
void report_stream_not_extracted(Run& s, std::string_view stream_text, const std::string& target,
                                 const char* reason = nullptr) {
    const std::string shown = paths::shown_path(target);
    std::printf("\n\n%.*s\n NOT EXTRACTED (error) to %s ", static_cast<int>(stream_text.size()), stream_text.data(),
                shown.c_str());
    if (reason != nullptr) {
        std::printf("(%s) ", reason);
    }
    if (error_stream(s) != stderr) {
        std::fprintf(error_stream(s), "\n%.*s | NOT EXTRACTED to %s", static_cast<int>(stream_text.size()),
                     stream_text.data(), shown.c_str());
        if (reason != nullptr) {
            std::fprintf(error_stream(s), " (%s)", reason);
        }
    }
    ++s.counters.copy_failures;
}

constexpr const char* unsafe_name_reason = "stream name holds a path separator";

// A stream's name becomes part of a file name beside the copy: a separator
// (or a NUL) in it would name a file somewhere else.
bool stream_name_is_safe(std::string_view name) {
    for (const char c : name) {
        if (c == '\0' || paths::is_separator(c)) {
            return false;
        }
    }
    return true;
}

// Copies an open stream into a temporary file beside `target` and renames
// it over `target` only when every byte was read and written, so that a
// stream file of an earlier run survives a failed copy.
std::error_code write_stream_file(platform::FileHandle& stream, const std::string& target) {
    ExtractState& work = state();
    platform::FileHandle out;
    if (std::error_code error = platform::create_temporary_beside(target, work.temp_path, out)) {
        return error;
    }
    if (work.copy_buffer.empty()) {
        work.copy_buffer.resize(copy_buffer_size);
    }
    std::error_code error;
    for (;;) {
        std::size_t got = 0;
        if ((error = platform::read_some(stream, work.copy_buffer.data(), work.copy_buffer.size(), got))) {
            break;
        }
        if (got == 0) {
            break;
        }
        if ((error = platform::write_all(out, work.copy_buffer.data(), got))) {
            break;
        }
        if (platform::interrupt_requested()) {
            (void)out.close();
            (void)platform::remove_file(work.temp_path);
            check_interrupt();
        }
    }
    const std::error_code closed = out.close();
    if (!error) {
        error = closed;
    }
    if (!error) {
        error = platform::rename_over(work.temp_path, target);
    }
    if (error) {
        (void)platform::remove_file(work.temp_path);
    }
    return error;
}

// The system's own copy of the stream, else the program's.
std::error_code copy_stream_to_file(const std::string& file, const std::string& name, const std::string& target) {
    if (!platform::system_copy_stream(file, name, target)) {
        return {};
    }
    platform::FileHandle stream;
    if (std::error_code error = platform::open_stream_for_read(file, name, stream)) {
        return error;
    }
    return write_stream_file(stream, target);
}

std::int64_t read_open_stream(void* source, void* buffer, std::size_t size) {
    std::size_t got = 0;
    if (platform::read_some(*static_cast<platform::FileHandle*>(source), buffer, size, got)) {
        return -1;
    }
    return static_cast<std::int64_t>(got);
}

template <std::size_t N>
void put_text(std::array<char, N>& out, std::string_view text) {
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(out.data(), length);
    out[length] = '\0';
}

// The texts of a stream or file that could not be opened at all.
void set_open_failed(hash::HashSet& out) {
    out = hash::HashSet{};
    out.status = hash::DigestStatus::open_failed;
    put_text(out.md5, hash::md5_open_error_text);
    put_text(out.sha1, hash::sha1_open_error_text);
}

hash::DigestSelection selection_of(const Run& s) {
    hash::DigestSelection selection;
    selection.sha1 = s.hashing.sha1 != 0;
    selection.sha256 = s.hashing.sha256 != 0;
    selection.sha384 = s.hashing.sha384 != 0;
    selection.sha512 = s.hashing.sha512 != 0;
    return selection;
}

void hash_open_stream(platform::FileHandle& stream, const hash::DigestSelection& selection, hash::HashSet& out) {
    if (!stream.valid()) {
        set_open_failed(out);
        return;
    }
    state().reader.hash_source(&read_open_stream, &stream, selection, out);
}

void hash_ordinary_file(const std::string& path, const hash::DigestSelection& selection, hash::HashSet& out) {
    if (state().reader.hash_file(path, selection, out) == hash::DigestStatus::open_failed) {
        set_open_failed(out);
    }
}

// "%s  | %S |" with the MD5, then each selected SHA text as " %S |" (the
// destination's with a blank after the bar).
void write_digest_columns(std::FILE* log, std::string_view shown, const hash::HashSet& digests, const Run& s,
                          bool blank_after_sha) {
    std::fprintf(log, "%.*s  | %s |", static_cast<int>(shown.size()), shown.data(), digests.md5.data());
    const struct {
        int on;
        hash::DigestKind kind;
    } kinds[] = {{s.hashing.sha1, hash::DigestKind::sha1},
                 {s.hashing.sha256, hash::DigestKind::sha256},
                 {s.hashing.sha384, hash::DigestKind::sha384},
                 {s.hashing.sha512, hash::DigestKind::sha512}};
    for (const auto& k : kinds) {
        if (k.on != 0) {
            const std::string_view text = digests.text(k.kind);
            std::fprintf(log, " %.*s |", static_cast<int>(text.size()), text.data());
            if (blank_after_sha) {
                std::fputs(" ", log);
            }
        }
    }
}

// The texts compared: the MD5 texts, or the SHA-1 texts when SHA-1 is
// computed. A side that could not be read never matches.
bool digests_match(const Run& s, const hash::HashSet& a, const hash::HashSet& b) {
    const hash::DigestKind kind = s.hashing.sha1 != 0 ? hash::DigestKind::sha1 : hash::DigestKind::md5;
    const std::string_view left = a.text(kind);
    const std::string_view right = b.text(kind);
    if (left.find("ERROR") != std::string_view::npos || right.find("ERROR") != std::string_view::npos) {
        return false;
    }
    return !left.empty() && left == right;
}

void write_stream_file_hash_line(Run& s, const std::string& stream_file, bool written) {
    std::FILE* log = s.files.hash_log;
    if (!s.hashing.any() || log == nullptr) {
        return;
    }
    std::fputs("\n", log);
    if (comparing(s.hashing)) {
        std::fputs(source_filler, log);
    }
    hash::Md5Text& md5 = state().md5_text;
    const char* text = written ? hash::md5_file_digest(stream_file, &md5) : nullptr;
    if (text == nullptr) {
        put_text(md5, hash::md5_open_error_text);
    }
    const std::string shown = paths::shown_path(stream_file);
    std::fprintf(log, "%s  | %s", shown.c_str(), md5.data());
}

}  // namespace

std::string stream_file_path(std::string_view file_path, std::string_view stream_name) {
    std::string path;
    path.reserve(file_path.size() + stream_name.size() + 2);
    path.append(file_path);
    path.push_back('[');
    path.append(stream_name);
    path.push_back(']');
    return path;
}

std::string stream_display_text(std::string_view file_path, std::string_view stream_name) {
    std::string text = paths::shown_path(file_path);
    text.push_back(':');
    text.append(util::shown_name(stream_name));
    return text;
}

int extract_copy_streams(Run& s, const std::string& source_path, const std::string& destination_file_path,
                         const platform::FindRecord& entry) {
    if (s.copy.ads_child != 0) {
        // The stream files were written from the source already; the path
        // names the destination directory, whose own streams are not the
        // file's.
        return 0;
    }
    // The source's streams are listed: a copy on a file system that could
    // not take one of them (or made by a copy that does not carry streams)
    // lacks it, and the stream is then taken from the source, so that no
    // stream of the evidence goes missing.
    const int count = enumerate_streams(s, source_path);
    ExtractState& work = state();
    int written = 0;
    bool source_read = false;
    for (int i = 0; i < count; ++i) {
        const std::string& name = s.streams.stream_table[static_cast<std::size_t>(i)].name;
        if (name.empty()) {
            continue;
        }
        work.stream_file = stream_file_path(destination_file_path, name);
        if (!stream_name_is_safe(name)) {
            report_stream_not_extracted(s, stream_display_text(destination_file_path, name), work.stream_file,
                                        unsafe_name_reason);
            continue;
        }
        std::error_code error = copy_stream_to_file(destination_file_path, name, work.stream_file);
        if (error) {
            error = copy_stream_to_file(source_path, name, work.stream_file);
            source_read = true;
        }
        const bool copied = !error;
        if (copied) {
            ++written;
            ++s.counters.ads_files_copied;
        } else {
            report_stream_not_extracted(s, stream_display_text(destination_file_path, name), work.stream_file,
                                        platform::error_text(error).c_str());
        }
        write_stream_file_hash_line(s, work.stream_file, copied);
        if (copied) {
            logs::stream_file_written(source_path, name, work.stream_file, entry);
            (void)copy::set_file_times(work.stream_file, entry.times);
        }
    }
    if (source_read) {
        (void)copy::restore_source_times(source_path, entry.times);
    }
    return written;
}

bool write_source_streams(Run& s, const std::string& source_path, std::string& destination_file_path,
                          const platform::FindRecord& entry) {
    // From here on the destination path names the destination directory.
    destination_file_path = std::string(paths::parent(destination_file_path));
    ExtractState& work = state();
    work.base = paths::join(destination_file_path, entry.name);
    const int count = enumerate_streams(s, source_path);
    // The times as the walk found them, before any stream was read.
    const platform::FileTimeSet& times = entry.times;
    bool all_written = true;
    for (int i = 0; i < count; ++i) {
        const std::string& name = s.streams.stream_table[static_cast<std::size_t>(i)].name;
        if (name.empty()) {
            continue;
        }
        work.stream_file = stream_file_path(work.base, name);
        if (!stream_name_is_safe(name)) {
            all_written = false;
            report_stream_not_extracted(s, stream_display_text(source_path, name), work.stream_file,
                                        unsafe_name_reason);
            continue;
        }
        if (const std::error_code error = copy_stream_to_file(source_path, name, work.stream_file)) {
            all_written = false;
            report_stream_not_extracted(s, stream_display_text(source_path, name), work.stream_file,
                                        platform::error_text(error).c_str());
        } else {
            ++s.counters.ads_files_copied;
            logs::stream_file_written(source_path, name, work.stream_file, entry);
            (void)copy::set_file_times(work.stream_file, times);
        }
        // Reading the stream must not leave a trace on the source.
        (void)copy::restore_source_times(source_path, times);
    }
    return all_written;
}

void hash_streams(Run& s, const std::string& source_path, const std::string& destination_file_path,
                  const platform::FindRecord& entry) {
    const int count = enumerate_streams(s, source_path);
    if (count == 0) {
        return;
    }
    ExtractState& work = state();
    const HashOptions& mode = s.hashing;
    std::FILE* log = s.files.hash_log;
    const hash::DigestSelection selection = selection_of(s);
    const bool child = s.copy.ads_child != 0;
    if (child) {
        // With --ADSCHILD the destination path names the directory; the
        // counterpart of each stream is the stream file written for it.
        work.base = paths::join(destination_file_path, paths::file_name(source_path));
    }
    for (int i = 0; i < count; ++i) {
        const std::string& name = s.streams.stream_table[static_cast<std::size_t>(i)].name;
        work.source_text = stream_display_text(source_path, name);
        platform::FileHandle source_stream;
        if (platform::open_stream_for_read(source_path, name, source_stream)) {
            std::printf("\n%d %s\nCouldn't get filetime for %s", 319, modes_module, work.source_text.c_str());
        }
        if (!mode.any() || log == nullptr) {
            continue;
        }
        std::fputs("\n", log);
        bool source_read = false;
        if (hashing_source(mode)) {
            hash_open_stream(source_stream, selection, work.source_digests);
            source_read = source_stream.valid();
            write_digest_columns(log, work.source_text, work.source_digests, s, false);
        }
        (void)source_stream.close();
        if (hashing_destination(mode)) {
            if (child) {
                work.stream_file = stream_file_path(work.base, name);
                work.destination_text = paths::shown_path(work.stream_file);
                // No stream file was written for an unsafe name: nothing
                // elsewhere is read in its place.
                hash_ordinary_file(stream_name_is_safe(name) ? work.stream_file : std::string(), selection,
                                   work.destination_digests);
                // The stream file keeps the source's times after its reading.
                (void)copy::restore_source_times(work.stream_file, entry.times);
            } else {
                work.destination_text = stream_display_text(destination_file_path, name);
                platform::FileHandle copy_stream;
                (void)platform::open_stream_for_read(destination_file_path, name, copy_stream);
                hash_open_stream(copy_stream, selection, work.destination_digests);
            }
            write_digest_columns(log, work.destination_text, work.destination_digests, s, true);
        }
        if (comparing(mode)) {
            const bool match = digests_match(s, work.source_digests, work.destination_digests);
            std::fputs(match ? " [OK] " : " [ERROR] ", log);
            if (!match) {
                // A copy whose stream differs is not a faithful copy.
                ++s.counters.copy_failures;
            }
        }
        if (source_read) {
            // Hashing the stream must not leave a trace on the source.
            (void)copy::restore_source_times(source_path, entry.times);
        }
    }
}

}  // namespace veldro::ads
