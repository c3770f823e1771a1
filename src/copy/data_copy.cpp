#include "copy/data_copy.h"

#include <cstdio>
#include <memory>
#include <new>

#include "driver/terminate.h"
#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/system.h"

namespace veldro::copy {

namespace {

constexpr std::size_t copy_buffer_bytes = 1024U * 1024U;

// Taken on the first call and kept for the run; a failed attempt is tried
// again on the next call.
unsigned char* copy_buffer() {
    static std::unique_ptr<unsigned char[]> buffer;  // NOLINT(modernize-avoid-c-arrays)
    if (!buffer) {
        buffer.reset(new (std::nothrow) unsigned char[copy_buffer_bytes]);  // NOLINT
    }
    return buffer.get();
}

// A destination that the system would refuse to overwrite: a directory,
// or a file marked read-only (unless -O lets it be replaced).
bool destination_refuses(const std::string& destination, bool replace_protected) {
    static platform::FindRecord record;
    if (!platform::lookup_path(destination, record)) {
        return false;
    }
    return record.kind == platform::EntryKind::directory ||
           (!replace_protected && (record.attributes & platform::attr_readonly) != 0);
}

enum class LoopEnd : std::uint8_t { complete, failed, interrupted };

LoopEnd copy_contents(platform::FileHandle& from, platform::FileHandle& to, unsigned char* buffer) {
    for (;;) {
        if (platform::interrupt_requested()) {
            return LoopEnd::interrupted;
        }
        const std::int64_t got = platform::read_some(from, buffer, copy_buffer_bytes);
        if (got < 0) {
            return LoopEnd::failed;
        }
        if (got == 0) {
            return LoopEnd::complete;
        }
        if (!platform::write_all(to, buffer, static_cast<std::size_t>(got))) {
            return LoopEnd::failed;
        }
    }
}

}  // namespace

int copy_file_data(const std::string& source, const std::string& destination, bool replace_protected) {
    unsigned char* buffer = copy_buffer();
    if (buffer == nullptr) {
        std::fprintf(stderr, "\n%s\n%d\nCouldn't create output copy buffer\n", ".\\s_list_u", 655);
        return 0;
    }
    static std::string target;
    target = destination;
    for (char& c : target) {
        if (c == 5) {
            c = '+';
        }
    }

    static platform::FindRecord source_record;
    platform::FileHandle from = platform::open_source_file(source);
    if (!from.valid() || !platform::lookup_path(source, source_record)) {
        return 0;
    }
    if (destination_refuses(target, replace_protected)) {
        return 0;
    }
    static std::string temp_path;
    platform::FileHandle to = platform::create_temporary_beside(target, temp_path);
    if (!to.valid()) {
        return 0;
    }
    platform::advise_sequential(from);
    const LoopEnd end = copy_contents(from, to, buffer);
    const bool closed = to.close();
    from.close();
    // The copy takes its source's times before it takes its name, so that
    // a copy under the destination name never looks newer than its source.
    bool creation_set = false;
    if (end == LoopEnd::complete && closed && platform::set_times(temp_path, source_record.times, creation_set) &&
        platform::rename_over(temp_path, target, replace_protected)) {
        return 1;
    }
    platform::remove_file(temp_path);
    if (end == LoopEnd::interrupted) {
        check_interrupt();
    }
    return 0;
}

bool platform_copy(const std::string& source, const std::string& destination, bool replace_protected) {
    const platform::CopyResult result = platform::copy_whole_file(source, destination, replace_protected);
    if (result == platform::CopyResult::interrupted) {
        check_interrupt();
    }
    return result == platform::CopyResult::copied;
}

bool copy_two_ways(const std::string& source, const std::string& destination, bool replace_protected) {
    return platform_copy(source, destination, replace_protected) ||
           copy_file_data(source, destination, replace_protected) == 1;
}

}  // namespace veldro::copy
