#include "copy/data_copy.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "copy/times.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/run_end.h"

namespace veldro::copy {

namespace {

// A destination that the system would refuse to overwrite: a directory,
// or a file marked read-only (unless -O lets it be replaced).
bool destination_refuses(const std::string& destination, bool replace_protected) {
    platform::FindRecord record;
    if (!platform::lookup_path(destination, record)) {
        return false;
    }
    return record.kind == platform::EntryKind::directory ||
           (!replace_protected && (record.attributes & platform::attr_readonly) != 0);
}

enum class LoopEnd : std::uint8_t { complete, failed, interrupted };

// Reads [at, end) of `from` into the same place of `to`. `at` ends where
// the source ended when it is shorter than that now.
LoopEnd copy_stretch(platform::FileHandle& from, platform::FileHandle& to, unsigned char* buffer, std::uint64_t& at,
                     std::uint64_t end, const platform::CopyFeed* feed) {
    if (!platform::seek_to(from, at) || !platform::seek_to(to, at)) {
        return LoopEnd::failed;
    }
    while (at < end) {
        if (platform::interrupt_requested()) {
            return LoopEnd::interrupted;
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(platform::copy_buffer_bytes, end - at));
        const std::int64_t got = platform::read_some(from, buffer, want);
        if (got < 0) {
            return LoopEnd::failed;
        }
        if (got == 0) {
            break;
        }
        if (!platform::write_all(to, buffer, static_cast<std::size_t>(got))) {
            return LoopEnd::failed;
        }
        if (feed != nullptr) {
            feed->take(feed->context, buffer, static_cast<std::size_t>(got));
        }
        at += static_cast<std::uint64_t>(got);
    }
    return LoopEnd::complete;
}

// Copies the first `size` bytes of the source (its size when it was opened:
// a source that grows meanwhile is not chased), stretch of data by stretch
// of data, so that its holes stay holes in the copy. A feed gets every byte
// of the copy, the zeros of its holes included.
LoopEnd copy_contents(platform::FileHandle& from, platform::FileHandle& to, unsigned char* buffer, std::uint64_t size,
                      const platform::CopyFeed* feed) {
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
        const LoopEnd end = copy_stretch(from, to, buffer, at, stretch->end, feed);
        if (end != LoopEnd::complete) {
            return end;
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
    return platform::set_file_size(to, size) ? LoopEnd::complete : LoopEnd::failed;
}

}  // namespace

int copy_file_data(const std::string& source, const std::string& destination, bool replace_protected,
                   platform::CopyFeed* feed) {
    unsigned char* buffer = platform::copy_buffer();
    if (buffer == nullptr) {
        if (feed != nullptr) {
            feed->buffer_missing = true;
        }
        return 0;
    }
    std::string target = destination;
    for (char& c : target) {
        if (c == 5) {
            c = '+';
        }
    }

    platform::FindRecord source_record;
    platform::FileHandle from = platform::open_source_file(source);
    if (!from.valid() || !platform::lookup_path(source, source_record)) {
        return 0;
    }
    if (destination_refuses(target, replace_protected)) {
        return 0;
    }
    std::string temp_path;
    platform::FileHandle to = platform::create_temporary_beside(target, temp_path);
    if (!to.valid()) {
        return 0;
    }
    platform::advise_sequential(from);
    const std::optional<platform::ChangeMarks> before =
        feed != nullptr ? platform::change_marks(from) : std::optional<platform::ChangeMarks>();
    const std::optional<std::uint64_t> size = platform::open_file_size(from);
    const platform::CopyFeed* taker = feed != nullptr && feed->take != nullptr ? feed : nullptr;
    const LoopEnd end = size ? copy_contents(from, to, buffer, *size, taker) : LoopEnd::failed;
    if (feed != nullptr) {
        const std::optional<platform::ChangeMarks> after = platform::change_marks(from);
        feed->source_changed = !before || !after || !(*before == *after);
    }
    const bool closed = to.close();
    from.close();
    // The copy takes its source's times before it takes its name, so that
    // a copy under the destination name never looks newer than its source.
    if (end == LoopEnd::complete && closed && set_file_times(temp_path, source_record.times) == 0 &&
        platform::rename_over(temp_path, target, replace_protected)) {
        return 1;
    }
    platform::remove_file(temp_path);
    if (end == LoopEnd::interrupted) {
        check_interrupt();
    }
    return 0;
}

bool platform_copy(const std::string& source, const std::string& destination, bool replace_protected,
                   platform::CopyFeed* feed) {
    const platform::CopyResult result = platform::copy_whole_file(source, destination, replace_protected, feed);
    if (result == platform::CopyResult::interrupted) {
        check_interrupt();
    }
    return result == platform::CopyResult::copied;
}

bool copy_two_ways(const std::string& source, const std::string& destination, bool replace_protected,
                   platform::CopyFeed* feed, const std::function<void()>& restart) {
    if (platform_copy(source, destination, replace_protected, feed)) {
        return true;
    }
    if (restart) {
        restart();  // the bytes the failed way fed are not the copy's
    }
    return copy_file_data(source, destination, replace_protected, feed) == 1;
}

}  // namespace veldro::copy
