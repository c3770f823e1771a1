#include "work/data_copy.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "times/file_times.h"
#include "util/run_end.h"

namespace veldro::work {

namespace {

// A destination that the system would refuse to overwrite: a directory,
// or a file marked read-only (unless -O lets it be replaced); the reason
// says which.
std::error_code destination_refuses(const std::string& destination, bool replace_protected) {
    platform::FindRecord record;
    if (platform::lookup_path(destination, record)) {
        return {};
    }
    if (record.kind == platform::EntryKind::directory) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    if (!replace_protected && (record.attributes & platform::attr_readonly) != 0) {
        return std::make_error_code(std::errc::permission_denied);
    }
    return {};
}

// Reads [at, end) of `from` into the same place of `to`. `at` ends where
// the source ended when it is shorter than that now. An interrupt ends it
// with copy_interrupted_error().
std::error_code copy_stretch(platform::FileHandle& from, platform::FileHandle& to, unsigned char* buffer,
                             std::uint64_t& at, std::uint64_t end, const platform::CopyFeed* feed) {
    if (std::error_code error = platform::seek_to(from, at)) {
        return error;
    }
    if (std::error_code error = platform::seek_to(to, at)) {
        return error;
    }
    while (at < end) {
        if (platform::interrupt_requested()) {
            return platform::copy_interrupted_error();
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(platform::copy_buffer_bytes, end - at));
        std::size_t got = 0;
        if (std::error_code error = platform::read_some(from, buffer, want, got)) {
            return error;
        }
        if (got == 0) {
            break;
        }
        if (std::error_code error = platform::write_all(to, buffer, got)) {
            return error;
        }
        if (feed != nullptr) {
            feed->take(feed->context, buffer, got);
        }
        at += static_cast<std::uint64_t>(got);
    }
    return {};
}

// Copies the first `size` bytes of the source (its size when it was opened:
// a source that grows meanwhile is not chased), stretch of data by stretch
// of data, so that its holes stay holes in the copy. A feed gets every byte
// of the copy, the zeros of its holes included.
std::error_code copy_contents(platform::FileHandle& from, platform::FileHandle& to, unsigned char* buffer,
                              std::uint64_t size, const platform::CopyFeed* feed) {
    std::uint64_t offset = 0;
    bool holes_allowed = false;
    while (offset < size) {
        const auto stretch = platform::next_data_stretch(from, offset, size);
        if (!stretch) {
            break;
        }
        if (stretch->begin > offset && !holes_allowed) {
            platform::allow_holes(to);
            holes_allowed = true;
        }
        if (feed != nullptr) {
            platform::feed_zeros(feed, stretch->begin - offset);
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
        platform::allow_holes(to);
    }
    const std::optional<std::uint64_t> now = platform::open_file_size(from);
    if (now && *now < size) {
        size = *now;
    }
    if (feed != nullptr && offset < size) {
        platform::feed_zeros(feed, size - offset);
    }
    return platform::set_file_size(to, size);
}

}  // namespace

std::error_code copy_file_data(const std::string& source, const std::string& destination, bool replace_protected,
                               platform::CopyFeed* feed) {
    if (feed != nullptr) {
        feed->copy_read_back = false;  // this copy is read after it is made
    }
    unsigned char* buffer = platform::copy_buffer();
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

    platform::FindRecord source_record;
    platform::FileHandle from;
    if (std::error_code error = platform::open_source_file(source, from)) {
        return error;
    }
    if (std::error_code error = platform::lookup_path(source, source_record)) {
        return error;
    }
    if (std::error_code error = destination_refuses(target, replace_protected)) {
        return error;
    }
    std::string temp_path;
    platform::FileHandle to;
    if (std::error_code error = platform::create_temporary_beside(target, temp_path, to)) {
        return error;
    }
    platform::advise_sequential(from);
    const std::optional<platform::ChangeMarks> before =
        feed != nullptr ? platform::change_marks(from) : std::optional<platform::ChangeMarks>();
    const std::optional<std::uint64_t> size = platform::open_file_size(from);
    const platform::CopyFeed* taker = feed != nullptr && feed->take != nullptr ? feed : nullptr;
    std::error_code error =
        size ? copy_contents(from, to, buffer, *size, taker) : std::make_error_code(std::errc::io_error);
    if (feed != nullptr) {
        const std::optional<platform::ChangeMarks> after = platform::change_marks(from);
        feed->source_changed = !before || !after || !(*before == *after);
    }
    const std::error_code closed = to.close();
    (void)from.close();
    if (!error) {
        error = closed;
    }
    // The copy takes its source's times before it takes its name, so that
    // a copy under the destination name never looks newer than its source.
    if (!error) {
        error = times::stamp(temp_path, source_record.times).error;
    }
    if (!error) {
        error = platform::rename_over(temp_path, target, replace_protected);
    }
    if (!error) {
        return {};
    }
    (void)platform::remove_file(temp_path);
    if (platform::is_copy_interrupted(error)) {
        check_interrupt();
    }
    return error;
}

std::error_code platform_copy(const std::string& source, const std::string& destination, bool replace_protected,
                              platform::CopyFeed* feed) {
    const std::error_code error = platform::copy_whole_file(source, destination, replace_protected, feed);
    if (platform::is_copy_interrupted(error)) {
        check_interrupt();
    }
    return error;
}

std::error_code copy_two_ways(const std::string& source, const std::string& destination, bool replace_protected,
                              platform::CopyFeed* feed, const std::function<void()>& restart) {
    if (!platform_copy(source, destination, replace_protected, feed)) {
        return {};
    }
    if (restart) {
        restart();  // the bytes the failed way fed are not the copy's
    }
    return copy_file_data(source, destination, replace_protected, feed);
}

}  // namespace veldro::work
