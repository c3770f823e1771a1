#include "platform/file_io.h"

#include "platform/posix/at_path.h"
#include "platform/posix/holes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace veldro::platform {

std::error_code FileHandle::close() {
    if (!valid()) {
        return {};
    }
    const int rc = ::close(static_cast<int>(native_));
    native_ = invalid_value;
    return rc == 0 ? std::error_code() : posix::errno_error();
}

std::error_code open_for_read(const std::string& path, ReadShare /*share*/, FileHandle& file) {
    file.close();
    // Linux has no share modes: both ways of opening are the same open.
    // O_NONBLOCK keeps a FIFO from hanging the open; FIFOs, sockets and
    // devices are then refused, since reading one would never end or would
    // not be the file's data.
    // Paths longer than the system limit are reached a directory at a time.
    const posix::AtPath at(path);
    if (!at.ok()) {
        return posix::errno_error();
    }
    const int fd = posix::open_no_atime(at.dir(), at.name(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return posix::errno_error();
    }
    FileHandle opened(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return posix::errno_error();
    }
    if (!(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    file = std::move(opened);
    return {};
}

std::error_code create_for_write(const std::string& path, FileHandle& file) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        file.close();
        return posix::errno_error();
    }
    file = FileHandle(fd);
    return {};
}

std::error_code read_some(FileHandle& file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(file.native()), buffer, size);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return {};
        }
        if (errno != EINTR) {
            return posix::errno_error();
        }
    }
}

std::error_code write_all(FileHandle& file, const void* buffer, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(file.native()), p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return posix::errno_error();
        }
        if (n == 0) {
            return std::make_error_code(std::errc::no_space_on_device);
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

std::optional<std::uint64_t> open_file_size(FileHandle& file) {
    struct stat st {};
    if (::fstat(static_cast<int>(file.native()), &st) != 0 || st.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<ChangeMarks> posix::change_marks_of(int fd) {
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_SIZE | STATX_MTIME | STATX_CTIME, &st) != 0) {
        return std::nullopt;
    }
    // Seconds and nanoseconds apart: a time far from the epoch (a forged
    // date) has no room for nanoseconds in 64 bits.
    ChangeMarks marks;
    marks.size = st.stx_size;
    marks.written = st.stx_mtime.tv_sec;
    marks.written_ns = st.stx_mtime.tv_nsec;
    marks.changed = st.stx_ctime.tv_sec;
    marks.changed_ns = st.stx_ctime.tv_nsec;
    return marks;
}

ChangeMarks posix::change_marks_of(const struct stat& st) {
    ChangeMarks marks;
    marks.size = static_cast<std::uint64_t>(st.st_size);
    marks.written = st.st_mtim.tv_sec;
    marks.written_ns = static_cast<std::uint32_t>(st.st_mtim.tv_nsec);
    marks.changed = st.st_ctim.tv_sec;
    marks.changed_ns = static_cast<std::uint32_t>(st.st_ctim.tv_nsec);
    return marks;
}

std::optional<ChangeMarks> change_marks(FileHandle& file) {
    return posix::change_marks_of(static_cast<int>(file.native()));
}

std::optional<posix::Stretch> posix::next_data(int fd, std::uint64_t offset, std::uint64_t limit) {
    if (offset >= limit) {
        return std::nullopt;
    }
    const off_t data = ::lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        // ENXIO: nothing but a hole up to the end. Otherwise the file system
        // cannot tell: all of it is data.
        return errno == ENXIO ? std::nullopt : std::optional<Stretch>(Stretch{offset, limit});
    }
    if (static_cast<std::uint64_t>(data) >= limit) {
        return std::nullopt;
    }
    const off_t hole = ::lseek(fd, data, SEEK_HOLE);
    const std::uint64_t end = hole < 0 ? limit : std::min(static_cast<std::uint64_t>(hole), limit);
    return Stretch{static_cast<std::uint64_t>(data), end};
}

std::optional<DataStretch> next_data_stretch(FileHandle& file, std::uint64_t offset, std::uint64_t limit) {
    const auto stretch = posix::next_data(static_cast<int>(file.native()), offset, limit);
    if (!stretch) {
        return std::nullopt;
    }
    return DataStretch{stretch->begin, stretch->end};
}

std::error_code seek_to(FileHandle& file, std::uint64_t offset) {
    if (::lseek(static_cast<int>(file.native()), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return posix::errno_error();
    }
    return {};
}

std::error_code set_file_size(FileHandle& file, std::uint64_t size) {
    if (::ftruncate(static_cast<int>(file.native()), static_cast<off_t>(size)) != 0) {
        return posix::errno_error();
    }
    return {};
}

void allow_holes(FileHandle& /*file*/) {}

void advise_sequential(FileHandle& file) {
    (void)::posix_fadvise(static_cast<int>(file.native()), 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::error_code read_from_device(const std::string& /*path*/, FileHandle& file) {
    const int fd = static_cast<int>(file.native());
    // Written pages are clean once the data is on the device, and only clean
    // pages can be dropped; the reads that follow then go to the device.
    if (::fdatasync(fd) != 0) {
        return posix::errno_error();
    }
    const int rc = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return rc == 0 ? std::error_code() : std::error_code(rc, std::system_category());
}

}  // namespace veldro::platform
