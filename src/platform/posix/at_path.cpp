#include "platform/posix/at_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace veldro::platform::posix {

namespace {

// Paths at or above this length go through directory descriptors.
constexpr std::size_t direct_limit = PATH_MAX - 1;

// Opens the directory `dir` (absolute or relative to the working
// directory, any length) as an O_PATH descriptor by pieces below the limit.
int open_directory_chain(const std::string& dir) {
    int fd = AT_FDCWD;
    std::size_t pos = 0;
    std::string piece;
    while (pos < dir.size()) {
        std::size_t end = dir.size();
        if (end - pos > direct_limit) {
            // Cut at the last separator that keeps the piece below the limit.
            end = dir.rfind('/', pos + direct_limit);
            if (end == std::string::npos || end <= pos) {
                errno = ENAMETOOLONG;
                if (fd != AT_FDCWD) {
                    ::close(fd);
                }
                return -1;
            }
        }
        piece.assign(dir, pos, end - pos);
        if (piece.empty()) {
            piece.assign(1, '/');
        }
        const int next = ::openat(fd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int saved = errno;
        if (fd != AT_FDCWD) {
            ::close(fd);
        }
        if (next < 0) {
            errno = saved;
            return -1;
        }
        fd = next;
        pos = end;
        while (pos < dir.size() && dir[pos] == '/') {
            ++pos;
        }
    }
    return fd;
}

}  // namespace

AtPath::AtPath(const std::string& path) : dir_(AT_FDCWD), name_(path.c_str()) {
    if (path.size() < direct_limit) {
        return;
    }
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos || slash == 0) {
        return;  // nothing to split: the call reports the name as too long
    }
    leaf_.assign(path, slash + 1, end - slash - 1);
    name_ = leaf_.c_str();
    const int fd = open_directory_chain(path.substr(0, slash));
    if (fd < 0) {
        ok_ = false;
        return;
    }
    dir_ = fd;
    owned_ = true;
}

int open_no_atime(int dir, const char* name, int flags) {
    int fd = ::openat(dir, name, flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = ::openat(dir, name, flags);
    }
    return fd;
}

AtPath::~AtPath() {
    if (owned_) {
        ::close(dir_);
    }
}

const char* AtPath::short_path() {
    if (!owned_) {
        return name_;
    }
    proc_path_ = "/proc/self/fd/" + std::to_string(dir_) + "/" + leaf_;
    return proc_path_.c_str();
}

int open_directory(const std::string& path, int flags) {
    AtPath at(path);
    if (!at.ok()) {
        return -1;
    }
    return ::openat(at.dir(), at.name(), flags | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace veldro::platform::posix
