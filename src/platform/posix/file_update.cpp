#include "platform/file_update.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace veldro::platform {

FileHandle open_or_create_for_update(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    return FileHandle(fd);
}

bool truncate_file(FileHandle& file, std::uint64_t size) {
    return ::ftruncate(static_cast<int>(file.native()), static_cast<off_t>(size)) == 0;
}

bool delete_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace veldro::platform
