#include "platform/file_update.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "platform/posix/at_path.h"

namespace veldro::platform {

std::error_code open_or_create_for_update(const std::string& path, FileHandle& file) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        file.close();
        return posix::errno_error();
    }
    file = FileHandle(fd);
    return {};
}

std::error_code truncate_file(FileHandle& file, std::uint64_t size) {
    if (::ftruncate(static_cast<int>(file.native()), static_cast<off_t>(size)) != 0) {
        return posix::errno_error();
    }
    return {};
}

std::error_code delete_file(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        return posix::errno_error();
    }
    return {};
}

}  // namespace veldro::platform
