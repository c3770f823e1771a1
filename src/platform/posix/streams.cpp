// Named streams on Linux: the user extended attributes of a file. ntfs-3g
// (streams_interface=xattr) shows the alternate data streams of an NTFS
// volume this way, and ext4, xfs, btrfs and tmpfs keep user attributes of
// their own. The "user." prefix is the attribute's namespace, not part of
// the stream's name.
#include "platform/streams.h"

#include "platform/fs.h"
#include "platform/posix/at_path.h"

#include <sys/mman.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <string_view>
#include <utility>

namespace veldro::platform {

namespace {

constexpr std::string_view user_prefix = "user.";

// Buffers reused from one call to the next: attribute names of a file, one
// attribute value, and the full attribute name being asked for.
struct PosixStreamBuffers {
    std::vector<char> names;
    std::vector<char> value;
    std::string attribute;
};

PosixStreamBuffers& buffers() {
    thread_local PosixStreamBuffers state;
    return state;
}

int fd_of(const FileHandle& file) {
    return static_cast<int>(file.native());
}

// Errors by which a file system says that it keeps no extended attributes.
bool means_unsupported(int error) {
    return error == ENOTSUP || error == ENOSYS;
}

const char* attribute_name(std::string_view stream_name) {
    std::string& attribute = buffers().attribute;
    attribute.assign(user_prefix);
    attribute.append(stream_name);
    return attribute.c_str();
}

// Reads the whole list of attribute names; the list may change between the
// size query and the read, hence the loop. -1 with errno on failure.
ssize_t read_attribute_names(int fd, std::vector<char>& names) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t needed = ::flistxattr(fd, nullptr, 0);
        if (needed <= 0) {
            return needed;
        }
        if (names.size() < static_cast<std::size_t>(needed)) {
            names.resize(static_cast<std::size_t>(needed));
        }
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0 || errno != ERANGE) {
            return got;
        }
    }
    errno = ERANGE;
    return -1;
}

// Reads one attribute's value into `value`; its length, or -1 with errno.
ssize_t read_attribute_value(int fd, const char* attribute, std::vector<char>& value) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t needed = ::fgetxattr(fd, attribute, nullptr, 0);
        if (needed <= 0) {
            return needed;
        }
        if (value.size() < static_cast<std::size_t>(needed)) {
            value.resize(static_cast<std::size_t>(needed));
        }
        const ssize_t got = ::fgetxattr(fd, attribute, value.data(), value.size());
        if (got >= 0 || errno != ERANGE) {
            return got;
        }
    }
    errno = ERANGE;
    return -1;
}

// The file whose attributes are wanted: a regular file (of any path
// length; a FIFO or device is refused without blocking), or a directory.
std::error_code open_stream_holder(const std::string& path, FileHandle& file) {
    std::error_code error = open_source_file(path, file);
    if (error && is_directory(path)) {
        error = open_for_read(path, ReadShare::permissive, file);
    }
    return error;
}

void store_stream(std::vector<StreamRecord>& table, std::size_t& count, std::string_view name, std::int64_t size) {
    if (count == table.size()) {
        table.emplace_back();
    }
    StreamRecord& record = table[count];
    record.name.assign(name);
    record.size = size;
    record.attributes = 0;
    ++count;
}

}  // namespace

StreamListStatus list_named_streams(const std::string& path, std::vector<StreamRecord>& table, std::size_t& count) {
    count = 0;
    FileHandle file;
    if (open_stream_holder(path, file)) {
        return StreamListStatus::open_failed;
    }
    std::vector<char>& names = buffers().names;
    const ssize_t length = read_attribute_names(fd_of(file), names);
    if (length < 0) {
        return means_unsupported(errno) ? StreamListStatus::unsupported : StreamListStatus::header_read_failed;
    }
    const std::string_view all(names.data(), static_cast<std::size_t>(length));
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\0', at);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        const std::string_view attribute = all.substr(at, end - at);
        at = end + 1;
        if (attribute.size() <= user_prefix.size() || attribute.substr(0, user_prefix.size()) != user_prefix) {
            continue;  // security., trusted., system. attributes are not streams
        }
        const std::string_view name = attribute.substr(user_prefix.size());
        const ssize_t size = ::fgetxattr(fd_of(file), attribute_name(name), nullptr, 0);
        if (size < 0) {
            if (errno == ENODATA) {
                continue;  // removed since the list was read
            }
            return StreamListStatus::name_read_failed;
        }
        store_stream(table, count, name, size);
    }
    return StreamListStatus::complete;
}

PrivilegeStatus enable_backup_privileges() {
    return PrivilegeStatus::enabled;
}

std::error_code open_stream_for_read(const std::string& file, const std::string& name, FileHandle& stream) {
    stream.close();
    FileHandle source;
    if (const std::error_code error = open_stream_holder(file, source)) {
        return error;
    }
    std::vector<char>& value = buffers().value;
    const ssize_t length = read_attribute_value(fd_of(source), attribute_name(name), value);
    if (length < 0) {
        return posix::errno_error();
    }
    // An attribute is read whole; an anonymous in-memory file holding the
    // value lets the caller read it like any other file.
    FileHandle contents(::memfd_create("veldro-stream", MFD_CLOEXEC));
    if (!contents.valid()) {
        return posix::errno_error();
    }
    if (const std::error_code error = write_all(contents, value.data(), static_cast<std::size_t>(length))) {
        return error;
    }
    if (::lseek(fd_of(contents), 0, SEEK_SET) != 0) {
        return posix::errno_error();
    }
    stream = std::move(contents);
    return {};
}

std::error_code write_stream(const std::string& file, const std::string& name, const void* data, std::size_t size) {
    FileHandle target;
    if (const std::error_code error = open_stream_holder(file, target)) {
        return error;
    }
    if (::fsetxattr(fd_of(target), attribute_name(name), data, size, 0) != 0) {
        return posix::errno_error();
    }
    return {};
}

std::error_code system_copy_stream(const std::string& /*file*/, const std::string& /*name*/,
                                   const std::string& /*target*/) {
    // Linux has no whole-file copy that takes a stream as its source.
    return std::make_error_code(std::errc::not_supported);
}

}  // namespace veldro::platform
