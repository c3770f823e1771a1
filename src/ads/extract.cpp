// The three extraction modes: the named streams of a copied file become
// ordinary files "name[stream]" beside the copy (--ADSEXTRACT,
// --ADSPARENT), or in place of it (--ADSCHILD), and with hashing their
// digests go to the hash log.
#include <array>
#include <string_view>
#include <vector>

#include "ads/streams.h"
#include "hash/file_digest.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "times/file_times.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::ads {

namespace {

// Puts the source's times back after its streams were read; a failure is
// kept in the file's result and shown with its record.
void put_back_source_times(FileOutcome& out, const platform::FileTimeSet& times) {
    if (const std::error_code error = times::restore_source_times(out.source, times)) {
        if (!out.source_times.failed) {
            out.source_times.fail(error);
        }
    }
}

}  // namespace

namespace {

constexpr std::size_t copy_buffer_size = std::size_t{1} << 20U;

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
std::error_code write_stream_file(platform::FileHandle& stream, const std::string& target, StreamScratch& w) {
    platform::FileHandle out;
    if (std::error_code error = platform::create_temporary_beside(target, w.temp_path, out)) {
        return error;
    }
    if (w.copy_buffer.empty()) {
        w.copy_buffer.resize(copy_buffer_size);
    }
    std::error_code error;
    for (;;) {
        std::size_t got = 0;
        if ((error = platform::read_some(stream, w.copy_buffer.data(), w.copy_buffer.size(), got))) {
            break;
        }
        if (got == 0) {
            break;
        }
        if ((error = platform::write_all(out, w.copy_buffer.data(), got))) {
            break;
        }
        if (platform::interrupt_requested()) {
            // The run ends here: the temporary is dropped whatever its close
            // says, and one left behind is found by the next run.
            (void)out.close();
            (void)platform::remove_file(w.temp_path);
            check_interrupt();
        }
    }
    const std::error_code closed = out.close();
    if (!error) {
        error = closed;
    }
    if (!error) {
        error = platform::rename_over(w.temp_path, target);
    }
    if (error) {
        (void)platform::remove_file(w.temp_path);  // the failure that matters is the one returned
    }
    return error;
}

// The system's own copy of the stream, else the program's.
std::error_code copy_stream_to_file(const std::string& file, const std::string& name, const std::string& target,
                                    StreamScratch& w) {
    if (!platform::system_copy_stream(file, name, target)) {
        return {};
    }
    platform::FileHandle stream;
    if (std::error_code error = platform::open_stream_for_read(file, name, stream)) {
        return error;
    }
    return write_stream_file(stream, target, w);
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

hash::DigestSelection selection_of(const Options& o) {
    hash::DigestSelection selection;
    selection.sha1 = o.hashing.sha1 != 0;
    selection.sha256 = o.hashing.sha256 != 0;
    selection.sha384 = o.hashing.sha384 != 0;
    selection.sha512 = o.hashing.sha512 != 0;
    return selection;
}

void hash_open_stream(platform::FileHandle& stream, const hash::DigestSelection& selection, hash::HashSet& out,
                      StreamScratch& w) {
    if (!stream.valid()) {
        set_open_failed(out);
        return;
    }
    w.reader.hash_source(&read_open_stream, &stream, selection, out);
}

void hash_ordinary_file(const std::string& path, const hash::DigestSelection& selection, hash::HashSet& out,
                        StreamScratch& w) {
    if (w.reader.hash_file(path, selection, out) == hash::DigestStatus::open_failed) {
        set_open_failed(out);
    }
}

// The texts compared: the MD5 texts, or the SHA-1 texts when SHA-1 is
// computed. A side that could not be read never matches.
bool digests_match(const Options& o, const hash::HashSet& a, const hash::HashSet& b) {
    const hash::DigestKind kind = o.hashing.sha1 != 0 ? hash::DigestKind::sha1 : hash::DigestKind::md5;
    const std::string_view left = a.text(kind);
    const std::string_view right = b.text(kind);
    if (left.find("ERROR") != std::string_view::npos || right.find("ERROR") != std::string_view::npos) {
        return false;
    }
    return !left.empty() && left == right;
}

// Lists the source's streams into the scratch table and notes the listing
// for the report; returns how many of them to handle (a read error the
// user has not yet answered counts none: the report asks).
std::size_t list_source_streams(FileOutcome& out, StreamScratch& w) {
    std::size_t listed = 0;
    const platform::StreamListStatus status = platform::list_named_streams(out.source, w.table, listed);
    out.listings.push_back({status, listed, out.extracted_streams + out.hashed_streams});
    switch (status) {
        case platform::StreamListStatus::complete:
        case platform::StreamListStatus::name_read_failed:
            return listed;
        case platform::StreamListStatus::header_read_failed:
            return out.stream_errors_ignored ? listed : 0;
        case platform::StreamListStatus::open_failed:
        case platform::StreamListStatus::unsupported:
            break;
    }
    return 0;
}

// A new entry for a stream to extract: its messages name it after
// `text_of`, its file goes beside `beside`.
StreamOutcome& extracted_stream(FileOutcome& out, const std::string& name, std::string_view text_of,
                                std::string_view beside) {
    StreamOutcome& one = out.next_stream();
    ++out.extracted_streams;
    one.name = name;
    one.text = stream_display_text(text_of, name);
    one.file = stream_file_path(beside, name);
    one.unsafe_name = !stream_name_is_safe(name);
    return one;
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

void extract_copy_streams(const Options& o, FileOutcome& out, StreamScratch& w) {
    if (o.copy.ads_child != 0) {
        // The stream files were written from the source already; the path
        // names the destination directory, whose own streams are not the
        // file's.
        return;
    }
    // The source's streams are listed: a copy on a file system that could
    // not take one of them (or made by a copy that does not carry streams)
    // lacks it, and the stream is then taken from the source, so that no
    // stream of the evidence goes missing.
    const std::size_t count = list_source_streams(out, w);
    const bool digests_wanted = o.hashing.any() && out.hash_log;
    bool source_read = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = w.table[i].name;
        if (name.empty()) {
            continue;
        }
        StreamOutcome& one = extracted_stream(out, name, out.destination, out.destination);
        if (one.unsafe_name) {
            continue;
        }
        one.error = copy_stream_to_file(out.destination, name, one.file, w);
        if (one.error) {
            one.error = copy_stream_to_file(out.source, name, one.file, w);
            source_read = true;
        }
        one.written = !one.error;
        if (digests_wanted && !one.written) {
            put_text(one.file_md5, hash::md5_open_error_text);
        } else if (digests_wanted && hash::md5_file_digest(one.file, &one.file_md5) == nullptr) {
            one.digest_buffer_missing = true;  // said with the file's record
            put_text(one.file_md5, hash::md5_open_error_text);
        }
        if (one.written) {
            // A stream file is no evidence of its own: the times it carries
            // are a courtesy, and its digest in the hash log is what counts.
            (void)times::set_file_times(one.file, out.entry.times);
        }
    }
    if (source_read) {
        put_back_source_times(out, out.entry.times);
    }
}

bool write_source_streams(const Options& /*o*/, FileOutcome& out, StreamScratch& w) {
    // From here on the destination path names the destination directory.
    out.destination = std::string(paths::parent(out.destination));
    w.base = paths::join(out.destination, out.entry.name);
    const std::size_t count = list_source_streams(out, w);
    // The times as the walk found them, before any stream was read.
    const platform::FileTimeSet& times = out.entry.times;
    bool all_written = true;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = w.table[i].name;
        if (name.empty()) {
            continue;
        }
        StreamOutcome& one = extracted_stream(out, name, out.source, w.base);
        if (one.unsafe_name) {
            all_written = false;
            continue;
        }
        one.error = copy_stream_to_file(out.source, name, one.file, w);
        one.written = !one.error;
        if (one.written) {
            // As above: the stream file's times are a courtesy.
            (void)times::set_file_times(one.file, times);
        } else {
            all_written = false;
        }
        // Reading the stream must not leave a trace on the source.
        put_back_source_times(out, times);
    }
    return all_written;
}

void hash_streams(const Options& o, FileOutcome& out, StreamScratch& w) {
    const std::size_t count = list_source_streams(out, w);
    const HashOptions& mode = o.hashing;
    const hash::DigestSelection selection = selection_of(o);
    const bool child = o.copy.ads_child != 0;
    if (child) {
        // With --ADSCHILD the destination path names the directory; the
        // counterpart of each stream is the stream file written for it.
        w.base = paths::join(out.destination, paths::file_name(out.source));
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = w.table[i].name;
        StreamOutcome& one = out.next_stream();
        ++out.hashed_streams;
        one.name = name;
        one.text = stream_display_text(out.source, name);
        platform::FileHandle source_stream;
        one.source_read = !platform::open_stream_for_read(out.source, name, source_stream);
        if (!mode.any() || !out.hash_log) {
            continue;
        }
        if (mode.hash_sources) {
            hash_open_stream(source_stream, selection, one.source_digests, w);
        }
        (void)source_stream.close();  // read only: nothing is lost when closing fails
        if (mode.hash_copies) {
            if (child) {
                one.file = stream_file_path(w.base, name);
                one.destination_text = paths::shown_path(one.file);
                // No stream file was written for an unsafe name: nothing
                // elsewhere is read in its place.
                hash_ordinary_file(stream_name_is_safe(name) ? one.file : std::string(), selection,
                                   one.destination_digests, w);
                // The stream file keeps the source's times after its reading
                // (a courtesy, as when it was written).
                (void)times::restore_source_times(one.file, out.entry.times);
            } else {
                one.destination_text = stream_display_text(out.destination, name);
                platform::FileHandle copy_stream;
                // A stream that cannot be opened hashes as an open error:
                // the handle stays closed, and that is the failure recorded.
                (void)platform::open_stream_for_read(out.destination, name, copy_stream);
                hash_open_stream(copy_stream, selection, one.destination_digests, w);
            }
        }
        one.match = digests_match(o, one.source_digests, one.destination_digests);
        if (mode.hash_sources && one.source_read) {
            // Hashing the stream must not leave a trace on the source.
            put_back_source_times(out, out.entry.times);
        }
    }
}

}  // namespace veldro::ads
