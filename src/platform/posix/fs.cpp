#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/fs.h"
#include "platform/posix/at_path.h"

namespace veldro::platform {

// Paths of any length are looked at through directory descriptors; below
// the destination no link is followed on the way.
bool path_exists(const std::string& path) {
    const posix::AtPath at(path);
    struct stat st {};
    return at.ok() && ::fstatat(at.dir(), at.name(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool is_directory(const std::string& path) {
    const posix::AtPath at(path);
    struct stat st {};
    return at.ok() && ::fstatat(at.dir(), at.name(), &st, at.confined() ? AT_SYMLINK_NOFOLLOW : 0) == 0 &&
           S_ISDIR(st.st_mode);
}

std::error_code create_directory(const std::string& path) {
    std::error_code error;
    {
        const posix::AtPath at(path);
        if (at.ok() && ::mkdirat(at.dir(), at.name(), 0777) == 0) {
            return {};
        }
        error = posix::errno_error();
    }
    if (error == std::errc::file_exists && is_directory(path)) {
        return {};
    }
    return error;
}

std::optional<FileIdentity> file_identity(const std::string& path) {
    const posix::AtPath at(path);
    struct stat st {};
    if (!at.ok() || ::fstatat(at.dir(), at.name(), &st, 0) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string resolved_path(const std::string& path) {
    std::string existing = path;
    std::string rest;
    for (;;) {
        if (char* real = ::realpath(existing.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own allocation
            if (!rest.empty() && resolved.back() != '/') {
                resolved += '/';
            }
            return resolved + rest;
        }
        const std::size_t slash = existing.find_last_of('/');
        if (slash == std::string::npos || existing == "/") {
            return path;
        }
        const std::string leaf = existing.substr(slash + 1);
        if (!rest.empty()) {
            rest.insert(0, 1, '/');
        }
        rest.insert(0, leaf);
        existing = slash == 0 ? std::string("/") : existing.substr(0, slash);
    }
}

std::string current_directory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            return {buffer.data()};
        }
        if (errno != ERANGE) {
            return "/";
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string full_path(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    std::string cwd = current_directory();
    if (path.empty()) {
        return cwd;
    }
    if (cwd.back() != '/') {
        cwd += '/';
    }
    return cwd + path;
}

std::string program_path() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) {
        return {};
    }
    return {buffer.data(), static_cast<std::size_t>(n)};
}

namespace {

// The nearest ancestor of `path` (itself included) that exists.
std::string existing_ancestor(std::string path) {
    while (!path.empty() && !is_directory(path)) {
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) {
            return ".";
        }
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return path.empty() ? "/" : path;
}

// Undoes the octal escapes (\040 for a blank) of /proc mount fields.
std::string unescape_mount_field(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::strtol(digits.c_str(), nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool has_option(const std::string& options, const std::string& word) {
    std::stringstream list(options);
    std::string item;
    while (std::getline(list, item, ',')) {
        if (item == word) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::uint64_t> free_space(const std::string& path) {
    struct statvfs vfs {};
    const int fd = posix::open_directory(existing_ancestor(path), O_PATH);
    const bool known = fd >= 0 && ::fstatvfs(fd, &vfs) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!known) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(vfs.f_bfree) * static_cast<std::uint64_t>(vfs.f_frsize);
}

std::error_code flush_file_systems(const std::vector<std::string>& paths) {
    std::error_code first;
    std::vector<dev_t> flushed;
    for (const std::string& path : paths) {
        const int fd = posix::open_directory(existing_ancestor(path), O_RDONLY);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (!first) {
                first = std::error_code(errno, std::generic_category());
            }
        } else if (std::find(flushed.begin(), flushed.end(), st.st_dev) == flushed.end()) {
            flushed.push_back(st.st_dev);
            if (::syncfs(fd) != 0 && !first) {
                first = std::error_code(errno, std::generic_category());
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return first;
}

namespace {

// Whether the process holds CAP_FOWNER, which lets it open any file with
// O_NOATIME and set any file's times; root when the capabilities cannot
// be read.
bool holds_fowner_capability() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            const unsigned long long effective = std::strtoull(line.c_str() + 7, nullptr, 16);
            constexpr unsigned cap_fowner = 3;
            return ((effective >> cap_fowner) & 1ULL) != 0;
        }
    }
    return ::geteuid() == 0;
}

}  // namespace

bool access_times_kept_for_any_owner(const std::string& path) {
    static const bool privileged = holds_fowner_capability();
    if (privileged) {
        return true;
    }
    struct statvfs vfs {};
    if (path.empty()) {
        return false;
    }
    if (::statvfs(existing_ancestor(path).c_str(), &vfs) != 0) {
        return false;
    }
    return (vfs.f_flag & (ST_RDONLY | ST_NOATIME)) != 0;
}

std::int64_t last_access_setting(const std::string& path) {
    char resolved[PATH_MAX];  // NOLINT(cppcoreguidelines-avoid-c-arrays)
    if (::realpath(existing_ancestor(path).c_str(), resolved) == nullptr) {
        return -1;
    }
    const std::string target = resolved;
    std::ifstream mounts("/proc/self/mountinfo");
    if (!mounts) {
        return -1;
    }
    // Fields: id parent major:minor root mount-point options ...
    std::string line;
    std::string best_point;
    std::string best_options;
    bool found = false;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id;
        std::string parent_id;
        std::string dev;
        std::string root;
        std::string point;
        std::string options;
        if (!(fields >> id >> parent_id >> dev >> root >> point >> options)) {
            continue;
        }
        point = unescape_mount_field(point);
        const bool covers = target == point || point == "/" ||
                            (target.size() > point.size() && target.compare(0, point.size(), point) == 0 &&
                             target[point.size()] == '/');
        // Later lines of the same mount point stack on top of earlier ones.
        if (covers && (!found || point.size() >= best_point.size())) {
            best_point = point;
            best_options = options;
            found = true;
        }
    }
    if (!found) {
        return -1;
    }
    if (has_option(best_options, "noatime")) {
        return 1;
    }
    if (has_option(best_options, "relatime")) {
        return 0x80000000LL;
    }
    return 0;
}

// The destination chain is checked by its callers and written through
// directory descriptors; nothing is held here.
bool hold_destination_chain(const std::string& /*root*/, const std::string& /*dir*/, HeldChain& held) {
    held.reset();
    return true;
}

}  // namespace veldro::platform
