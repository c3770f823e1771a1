// The program's own copy of a file's data: large buffered reads into a
// temporary file beside the destination, renamed over it only when every
// byte was read and written.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/copy_progress.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/system.h"

namespace veldro::platform {

namespace {

// A destination that the system would refuse to overwrite: a directory,
// or a file marked read-only (unless -O lets it be replaced); the reason
// says which.
std::error_code destination_refuses(const std::string& destination, bool replace_protected) {
    FindRecord record;
    if (lookup_path(destination, record)) {
        return {};
    }
    if (record.kind == EntryKind::directory) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    if (!replace_protected && (record.attributes & attr_readonly) != 0) {
        return std::make_error_code(std::errc::permission_denied);
    }
    return {};
}

// Reads [at, end) of `from` into the same place of `to`. `at` ends where
// the source ended when it is shorter than that now. An interrupt ends it
// with copy_interrupted_error().
std::error_code copy_stretch(FileHandle& from, FileHandle& to, unsigned char* buffer, std::uint64_t& at,
                             std::uint64_t end, const CopyFeed* feed) {
    if (std::error_code error = seek_to(from, at)) {
        return error;
    }
    if (std::error_code error = seek_to(to, at)) {
        return error;
    }
    while (at < end) {
        if (interrupt_requested()) {
            return copy_interrupted_error();
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(copy_buffer_bytes, end - at));
        std::size_t got = 0;
        if (std::error_code error = read_some(from, buffer, want, got)) {
            return error;
        }
        if (got == 0) {
            break;
        }
        if (std::error_code error = write_all(to, buffer, got)) {
            return error;
        }
        if (feed != nullptr) {
            feed->take(feed->context, buffer, got);
        }
        count_copied_bytes(got);
        at += static_cast<std::uint64_t>(got);
    }
    return {};
}

// After the reported size: one read tells whether the file holds more than
// it reports (a pseudo-file reports 0 or a page). While it still reports
// the size it was opened with, what follows is copied to its end; a file
// that grew since it was opened is not chased. `at` ends at the copy's end.
std::error_code copy_past_reported_size(FileHandle& from, FileHandle& to, unsigned char* buffer, std::uint64_t& at,
                                        std::uint64_t reported, const CopyFeed* feed) {
    if (std::error_code error = seek_to(from, at)) {
        return error;
    }
    std::size_t got = 0;
    if (std::error_code error = read_some(from, buffer, copy_buffer_bytes, got)) {
        return error;
    }
    if (got == 0 || open_file_size(from) != std::optional<std::uint64_t>(reported)) {
        return {};
    }
    if (std::error_code error = seek_to(to, at)) {
        return error;
    }
    if (std::error_code error = write_all(to, buffer, got)) {
        return error;
    }
    if (feed != nullptr) {
        feed->take(feed->context, buffer, got);
    }
    at += static_cast<std::uint64_t>(got);
    return copy_stretch(from, to, buffer, at, UINT64_MAX, feed);
}

// Copies the source stretch of data by stretch of data up to `size` (its
// size when it was opened), so that its holes stay holes in the copy, and
// then whatever it holds beyond the size it reports. A feed gets every byte
// of the copy, the zeros of its holes included. `size` ends as the copy's
// length.
std::error_code copy_contents(FileHandle& from, FileHandle& to, unsigned char* buffer, std::uint64_t& size,
                              const CopyFeed* feed) {
    const std::uint64_t reported = size;
    std::uint64_t offset = 0;
    bool holes_allowed = false;
    while (offset < size) {
        const auto stretch = next_data_stretch(from, offset, size);
        if (!stretch) {
            break;
        }
        if (stretch->begin > offset && !holes_allowed) {
            allow_holes(to);
            holes_allowed = true;
        }
        if (feed != nullptr) {
            feed_zeros(feed, stretch->begin - offset);
        }
        std::uint64_t at = stretch->begin;
        if (std::error_code error = copy_stretch(from, to, buffer, at, stretch->end, feed)) {
            return error;
        }
        if (at < stretch->end) {
            size = at;  // cut short while it was copied: the copy ends where it ended
            offset = at;
            break;
        }
        offset = stretch->end;
    }
    if (offset < size && !holes_allowed) {
        allow_holes(to);
    }
    const std::optional<std::uint64_t> now = open_file_size(from);
    if (now && *now < size) {
        size = *now;
    }
    if (feed != nullptr && offset < size) {
        feed_zeros(feed, size - offset);
    }
    if (std::error_code error = set_file_size(to, size)) {
        return error;
    }
    if (size != reported) {
        return {};
    }
    return copy_past_reported_size(from, to, buffer, size, reported, feed);
}

}  // namespace

std::error_code copy_buffered(const std::string& source, const std::string& destination, bool replace_protected,
                              CopyFeed* feed) {
    if (feed != nullptr) {
        feed->copy_read_back = false;  // this copy is read after it is made
        feed->read_known = false;
    }
    unsigned char* buffer = copy_buffer();
    if (buffer == nullptr) {
        if (feed != nullptr) {
            feed->buffer_missing = true;
        }
        return std::make_error_code(std::errc::not_enough_memory);
    }
    std::string target = destination;
    for (char& c : target) {
        if (c == 5) {
            c = '+';
        }
    }

    FileHandle from;
    bool access_unprotected = false;
    if (std::error_code error = open_source_file(source, from, &access_unprotected)) {
        return error;
    }
    if (feed != nullptr) {
        feed->access_unprotected = access_unprotected;
    }
    // The size and times of the source as opened: the state the copy is
    // made from, and the times it carries.
    std::uint64_t opened_size = 0;
    FileTimeSet opened_times;
    if (std::error_code error = look_at_open_file(from, opened_size, opened_times)) {
        return error;
    }
    if (feed != nullptr) {
        feed->opened_known = true;
        feed->opened_size = opened_size;
        feed->opened_times = opened_times;
    }
    if (std::error_code error = destination_refuses(target, replace_protected)) {
        return error;
    }
    std::string temp_path;
    FileHandle to;
    if (std::error_code error = create_temporary_beside(target, temp_path, to)) {
        return error;
    }
    advise_sequential(from);
    const std::optional<ChangeMarks> before = feed != nullptr ? change_marks(from) : std::optional<ChangeMarks>();
    std::optional<std::uint64_t> size = open_file_size(from);
    const CopyFeed* taker = feed != nullptr && feed->take != nullptr ? feed : nullptr;
    std::error_code error =
        size ? copy_contents(from, to, buffer, *size, taker) : std::make_error_code(std::errc::io_error);
    if (feed != nullptr) {
        feed->read_known = !error && size;
        feed->read_size = size.value_or(0);
    }
    if (feed != nullptr) {
        const std::optional<ChangeMarks> after = change_marks(from);
        feed->source_changed = !before || !after || !(*before == *after);
    }
    if (!error) {
        bool owner_kept = true;
        error = carry_owner_and_mode(from, to, feed != nullptr && feed->writable, owner_kept);
        if (feed != nullptr) {
            feed->owner_kept = owner_kept;
        }
    }
    const std::error_code closed = to.close();
    (void)from.close();  // only read: its close cannot lose a byte
    if (!error) {
        error = closed;
    }
    // The copy takes its source's times before it takes its name, so that
    // a copy under the destination name never looks newer than its source.
    if (!error) {
        bool creation_set = false;
        error = set_times(temp_path, opened_times, creation_set);
    }
    if (!error) {
        error = rename_over(temp_path, target, replace_protected);
    }
    if (!error) {
        return {};
    }
    // The copy's own failure is the reason to tell; a temporary file that
    // cannot be removed either has a name no destination file ever has.
    (void)remove_file(temp_path);
    return error;
}

}  // namespace veldro::platform
