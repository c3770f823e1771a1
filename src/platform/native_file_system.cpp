// The machine's own file system behind the engine's interface: every
// operation forwards to the platform function of the same purpose, which
// the posix/ and win32/ implementations provide.
#include "platform/file_system.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/system.h"

namespace veldro::platform {

namespace {

class NativeListing final : public DirectoryListing {
public:
    DirectorySearch search;
    bool next(FindRecord& record) override { return search.next(record); }
};

// A file read up to the size it had when it was opened (one that keeps
// growing is not chased), stretch of data by stretch of data: the holes of
// a sparse file are given as the zeros they read as, without reading them.
std::int64_t read_native(void* source, void* buffer, std::size_t size) {
    auto* f = static_cast<ReadBackFile*>(source);
    if (f->position >= f->data_end && f->position < f->size) {
        const auto stretch = next_data_stretch(f->handle, f->position, f->size);
        if (stretch) {
            f->data_begin = stretch->begin;
            f->data_end = stretch->end;
            if (seek_to(f->handle, f->data_begin)) {
                return -1;
            }
        } else {
            // Only a hole is left, unless the file was cut meanwhile.
            const std::optional<std::uint64_t> now = open_file_size(f->handle);
            f->size = now ? std::min(f->size, *now) : f->position;
            f->data_begin = f->data_end = f->size;
        }
    }
    if (f->position >= f->size) {
        return 0;
    }
    if (f->position < f->data_begin) {
        const auto zeros = static_cast<std::size_t>(std::min<std::uint64_t>(size, f->data_begin - f->position));
        std::memset(buffer, 0, zeros);
        f->position += zeros;
        return static_cast<std::int64_t>(zeros);
    }
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size, f->data_end - f->position));
    std::size_t got = 0;
    if (read_some(f->handle, buffer, want, got)) {
        return -1;
    }
    f->position += static_cast<std::uint64_t>(got);
    return static_cast<std::int64_t>(got);
}

}  // namespace

std::error_code NativeFileSystem::lookup(const std::string& path, FindRecord& record) {
    return lookup_path(path, record);
}

std::error_code NativeFileSystem::list(const std::string& dir, const std::string& pattern, SearchDetail detail,
                                       std::unique_ptr<DirectoryListing>& listing) {
    auto native = std::make_unique<NativeListing>();
    if (const std::error_code error = native->search.open(dir, pattern, detail)) {
        listing.reset();
        return error;
    }
    listing = std::move(native);
    return {};
}

bool NativeFileSystem::is_directory(const std::string& path) {
    return platform::is_directory(path);
}
bool NativeFileSystem::exists(const std::string& path) {
    return path_exists(path);
}
std::optional<FileIdentity> NativeFileSystem::identity(const std::string& path) {
    return file_identity(path);
}

std::error_code NativeFileSystem::copy_whole(const std::string& source, const std::string& destination,
                                             bool replace_protected, CopyFeed* feed) {
    return copy_whole_file(source, destination, replace_protected, feed);
}
void NativeFileSystem::copy_whole_group(GroupedCopy* copies, std::size_t count, bool replace_protected, TakeMany take,
                                        CopyReadBack* partner) {
    platform::copy_whole_group(copies, count, replace_protected, take, partner);
}
std::error_code NativeFileSystem::copy_buffered(const std::string& source, const std::string& destination,
                                                bool replace_protected, CopyFeed* feed) {
    return platform::copy_buffered(source, destination, replace_protected, feed);
}
std::error_code NativeFileSystem::copy_link(const std::string& source, const std::string& destination) {
    return copy_symbolic_link(source, destination);
}

std::error_code NativeFileSystem::open_read_back(const std::string& path, ReadBackFile& file, bool from_device) {
    std::error_code error = open_for_read(path, ReadShare::deny_writers, file.handle);
    if (error) {
        // Refused, perhaps because another process is writing the file:
        // what it holds now can still be read.
        error = open_for_read(path, ReadShare::permissive, file.handle);
    }
    if (!error && from_device) {
        error = read_from_device(path, file.handle);
    }
    if (error) {
        file.handle.close();
        return error;
    }
    advise_sequential(file.handle);
    file.size = open_file_size(file.handle).value_or(UINT64_MAX);
    file.step = &read_native;
    file.source = &file;
    return {};
}

std::error_code NativeFileSystem::set_times(const std::string& path, const FileTimeSet& times, bool& creation_set) {
    return platform::set_times(path, times, creation_set);
}
std::error_code NativeFileSystem::get_attributes(const std::string& path, std::uint32_t& attributes) {
    return platform::get_attributes(path, attributes);
}
std::error_code NativeFileSystem::set_attributes(const std::string& path, std::uint32_t attributes) {
    return platform::set_attributes(path, attributes);
}
std::error_code NativeFileSystem::make_directory(const std::string& path) {
    return platform::make_directory(path);
}
bool NativeFileSystem::hold_chain(const std::string& root, const std::string& dir, HeldChain& held) {
    return hold_destination_chain(root, dir, held);
}
std::error_code NativeFileSystem::remove(const std::string& path) {
    return remove_file(path);
}
std::int64_t NativeFileSystem::now_seconds() {
    return platform::now_seconds();
}

}  // namespace veldro::platform
