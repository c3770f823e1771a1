// Linux: directory search, look-ups, times, attributes and whole-file
// copies for the copy engine. Every call works on paths of any length
// (AtPath), never follows a link standing at the path itself, and reads
// sources without moving their last-access time where permitted.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/copy_progress.h"
#include "platform/fs.h"
#include "platform/posix/at_path.h"
#include "platform/posix/holes.h"
#include "platform/posix/read_back.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "platform/thread_owned.h"

namespace veldro::platform {

using posix::open_no_atime;

using posix::AtPath;
using posix::errno_error;

namespace {

// File systems that keep NTFS attributes and creation times, shown as
// "system.ntfs_*" extended attributes (ntfs-3g through FUSE, the kernel's
// ntfs3 and the older ntfs driver).
constexpr long fuse_magic = 0x65735546;
constexpr long ntfs3_magic = 0x7366746e;
constexpr long ntfs_magic = 0x5346544e;

bool is_ntfs_like(long type) {
    return type == fuse_magic || type == ntfs3_magic || type == ntfs_magic;
}

const char* const ntfs_attrib_name = "system.ntfs_attrib";
const char* const ntfs_crtime_name = "system.ntfs_crtime";

FileTime from_timestamp(std::int64_t sec, std::uint32_t nsec) {
    const std::int64_t since_1601 = sec + seconds_1601_to_1970;
    if (since_1601 < 0) {
        return {};
    }
    FileTime t;
    t.ticks = static_cast<std::uint64_t>(since_1601) * ticks_per_second + nsec / 100U;
    t.extra_ns = nsec % 100U;
    return t;
}

timespec to_timespec(const FileTime& t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(t.ticks / ticks_per_second) - seconds_1601_to_1970);
    ts.tv_nsec = static_cast<long>((t.ticks % ticks_per_second) * 100U + (t.extra_ns < 100U ? t.extra_ns : 99U));
    return ts;
}

// Whether the file system holding the entries of one directory keeps NTFS
// attributes. Asked once per directory: the copy engine works through a
// directory at a time, so the last answer is kept with its directory.
bool directory_is_ntfs_like(const std::string& path) {
    thread_local std::string cached_dir;
    thread_local bool cached_answer = false;
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return false;
    }
    if (slash == 0) {
        slash = 1;  // the root directory
    }
    if (cached_dir.size() == slash && path.compare(0, slash, cached_dir) == 0) {
        return cached_answer;
    }
    cached_dir.assign(path, 0, slash);
    const int fd = posix::open_directory(cached_dir, O_PATH);
    struct statfs fs {};
    cached_answer = fd >= 0 && ::fstatfs(fd, &fs) == 0 && is_ntfs_like(static_cast<long>(fs.f_type));
    if (fd >= 0) {
        ::close(fd);
    }
    return cached_answer;
}

// NTFS attribute bits and creation time from the extended attributes of a
// file on an NTFS volume (`xattr_path` as lgetxattr takes it).
void read_ntfs_extras(const char* xattr_path, FindRecord& record) {
    std::uint32_t attrib = 0;
    if (::lgetxattr(xattr_path, ntfs_attrib_name, &attrib, sizeof attrib) == static_cast<ssize_t>(sizeof attrib)) {
        const std::uint32_t kept = attr_readonly | attr_hidden | attr_system | attr_archive | attr_encrypted;
        record.attributes = (record.attributes & ~(attr_readonly | attr_normal)) | (attrib & kept);
        if (record.attributes == 0) {
            record.attributes = attr_normal;
        }
    }
    std::uint64_t crtime = 0;
    if (record.times.creation.ticks == 0 &&
        ::lgetxattr(xattr_path, ntfs_crtime_name, &crtime, sizeof crtime) == static_cast<ssize_t>(sizeof crtime)) {
        record.times.creation = FileTime{crtime, 0};
    }
}

EntryKind kind_of_mode(unsigned mode) {
    if (S_ISREG(mode)) {
        return EntryKind::regular;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::directory;
    }
    if (S_ISLNK(mode)) {
        return EntryKind::symlink;
    }
    return EntryKind::special;
}

void fill_record(const struct statx& st, const char* name, FindRecord& record) {
    record.name.assign(name);
    record.kind = kind_of_mode(st.stx_mode);
    std::uint32_t attributes = 0;
    switch (record.kind) {
        case EntryKind::directory:
            attributes = attr_directory;
            break;
        case EntryKind::symlink:
            attributes = attr_reparse_point;
            break;
        default:
            if ((st.stx_mode & S_IWUSR) == 0) {
                attributes |= attr_readonly;
            }
            break;
    }
    if (name[0] == '.') {
        attributes |= attr_hidden;
    }
    if (attributes == 0) {
        attributes = attr_normal;
    }
    record.attributes = attributes;
    record.size = record.kind == EntryKind::directory ? 0 : st.stx_size;
    record.times.last_access = from_timestamp(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    record.times.last_write = from_timestamp(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    record.times.creation =
        (st.stx_mask & STATX_BTIME) != 0 ? from_timestamp(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : FileTime{};
    FileOwnership& owner = record.ownership;
    owner.known = (st.stx_mask & (STATX_UID | STATX_GID | STATX_MODE)) == (STATX_UID | STATX_GID | STATX_MODE);
    owner.uid = st.stx_uid;
    owner.gid = st.stx_gid;
    owner.mode = st.stx_mode;
    owner.inode = st.stx_ino;
    owner.nlink = st.stx_nlink;
    switch (st.stx_mode & S_IFMT) {
        case S_IFREG:
            owner.type = 'r';
            break;
        case S_IFDIR:
            owner.type = 'd';
            break;
        case S_IFLNK:
            owner.type = 'l';
            break;
        case S_IFIFO:
            owner.type = 'p';
            break;
        case S_IFSOCK:
            owner.type = 's';
            break;
        case S_IFCHR:
            owner.type = 'c';
            break;
        case S_IFBLK:
            owner.type = 'b';
            break;
        default:
            owner.type = '-';
    }
}

constexpr unsigned statx_mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME |
                                STATX_UID | STATX_GID | STATX_INO | STATX_NLINK;
constexpr int statx_flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT;

// The last component of a path, without trailing separators.
const char* last_component(const std::string& path, std::string& scratch) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const std::size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (start >= end) {
        scratch = path;  // the root
    } else {
        scratch.assign(path, start, end - start);
    }
    return scratch.c_str();
}

// Directories kept open between files: the copies of one directory come
// one after the other, so the destination directory of the last copy and
// the source directory of the last file read are kept, and calls on paths
// directly inside them name their last component only.
struct DirSlot {
    DirSlot() = default;
    DirSlot(const DirSlot&) = delete;
    DirSlot& operator=(const DirSlot&) = delete;
    DirSlot(DirSlot&&) = delete;
    DirSlot& operator=(DirSlot&&) = delete;
    // Each thread keeps its own slots: a worker that ends closes its own.
    ~DirSlot() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd = -1;
    std::string dir_path;
};

DirSlot& destination_slot() {
    thread_local DirSlot slot;
    return slot;
}

DirSlot& source_slot() {
    thread_local DirSlot slot;
    return slot;
}

void forget_slot(DirSlot& slot) {
    if (slot.fd >= 0) {
        ::close(slot.fd);
    }
    slot.fd = -1;
    slot.dir_path.clear();
}

// Where the last component of `path` begins, and the length of its
// directory part (the root directory counts 1); false for a path without
// a separator.
bool split_last(const std::string& path, std::size_t& dir_length, std::size_t& leaf_at) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) {
        return false;
    }
    dir_length = slash == 0 ? 1 : slash;
    leaf_at = slash + 1;
    return true;
}

// Points the slot at the directory of `path` (opening it unless it is
// there already); the offset of the path's last component goes to leaf_at.
bool aim_slot(DirSlot& slot, const std::string& path, std::size_t& leaf_at) {
    std::size_t dir_length = 0;
    if (!split_last(path, dir_length, leaf_at)) {
        return false;
    }
    if (slot.fd >= 0 && slot.dir_path.size() == dir_length && path.compare(0, dir_length, slot.dir_path) == 0) {
        return true;
    }
    forget_slot(slot);
    slot.dir_path.assign(path, 0, dir_length);
    slot.fd = posix::open_directory(slot.dir_path, O_PATH);
    if (slot.fd < 0) {
        slot.dir_path.clear();
        return false;
    }
    return true;
}

// A path whose last component is "." or "..": kept directories are never
// used for one, which would name a directory above the one kept.
bool is_dot_leaf(const std::string& path, std::size_t leaf_at) {
    return posix::is_dot_name(std::string_view(path).substr(leaf_at));
}

// Points the destination slot at the directory of `path`, a path below the
// destination root.
bool aim_destination_slot(const std::string& path, std::size_t& leaf_at) {
    if (!aim_slot(destination_slot(), path, leaf_at)) {
        return false;
    }
    if (is_dot_leaf(path, leaf_at)) {
        errno = EPERM;
        return false;
    }
    return true;
}

// A path for the *at calls: inside a kept directory when it is directly in
// one (a path below the destination root keeps its directory for the next
// one), otherwise resolved as AtPath does.
class Target {
public:
    explicit Target(const std::string& path) : path_(path) {
        std::size_t dir_length = 0;
        std::size_t leaf_at = 0;
        if (split_last(path, dir_length, leaf_at)) {
            for (const DirSlot* slot : {&destination_slot(), &source_slot()}) {
                if (slot->fd >= 0 && slot->dir_path.size() == dir_length &&
                    path.compare(0, dir_length, slot->dir_path) == 0 && !is_dot_leaf(path, leaf_at)) {
                    dir_ = slot->fd;
                    name_ = path.c_str() + leaf_at;
                    return;
                }
            }
            if (posix::below_confinement_root(path) != 0 && aim_destination_slot(path, leaf_at)) {
                dir_ = destination_slot().fd;
                name_ = path.c_str() + leaf_at;
                return;
            }
        }
        at_.emplace(path);
        ok_ = at_->ok();
        dir_ = at_->dir();
        name_ = at_->name();
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    ~Target() = default;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] int dir() const { return dir_; }
    [[nodiscard]] const char* name() const { return name_; }
    // The path as the path-only calls (extended attributes) take it.
    const char* xattr_path() {
        if (at_) {
            return at_->short_path();
        }
        if (path_.size() < PATH_MAX - 1 && posix::below_confinement_root(path_) == 0) {
            return path_.c_str();
        }
        proc_ = "/proc/self/fd/" + std::to_string(dir_) + "/" + name_;
        return proc_.c_str();
    }

private:
    const std::string& path_;
    std::optional<AtPath> at_;
    bool ok_ = true;
    int dir_ = AT_FDCWD;
    const char* name_ = nullptr;
    std::string proc_;
};

// Opens a regular file for reading; FIFOs and devices are refused without
// blocking, links are not followed.
// `protected_atime` tells whether its last-access time is left alone.
int open_regular_source(const std::string& path, struct stat& st, bool& protected_atime) {
    std::size_t leaf_at = 0;
    int fd = -1;
    protected_atime = false;
    if (aim_slot(source_slot(), path, leaf_at)) {
        fd = open_no_atime(source_slot().fd, path.c_str() + leaf_at, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                           protected_atime);
    } else {
        AtPath at(path);
        if (!at.ok()) {
            return -1;
        }
        fd = open_no_atime(at.dir(), at.name(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, protected_atime);
    }
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // O_NONBLOCK stays: it means nothing for a regular file.
    return fd;
}

// The directory of a destination, opened for the *at calls (and kept for
// the next file of the same directory), with the destination's name.
class ParentDir {
public:
    explicit ParentDir(const std::string& path) {
        std::size_t leaf_at = 0;
        ok_ = aim_destination_slot(path, leaf_at);
        if (ok_) {
            leaf_ = path.c_str() + leaf_at;
        }
    }
    ParentDir(const ParentDir&) = delete;
    ParentDir& operator=(const ParentDir&) = delete;
    ~ParentDir() = default;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] int fd() const { return destination_slot().fd; }
    [[nodiscard]] const char* leaf() const { return leaf_; }
    [[nodiscard]] const std::string& dir_path() const { return destination_slot().dir_path; }

    // Drops the kept directory (after a failure, so that the next try
    // opens it afresh).
    static void forget() { forget_slot(destination_slot()); }

private:
    bool ok_ = false;
    const char* leaf_ = "";
};

// Temporary names beside a destination: hidden, unique within the run, and
// short enough for any directory whatever the destination's own name.
void next_temp_name(char* buffer, std::size_t size) {
    static const long pid = static_cast<long>(::getpid());
    static std::atomic<unsigned long> sequence{0};
    std::snprintf(buffer, size, ".veldro-%ld-%lu.tmp", pid, ++sequence);
}

// Creates an empty temporary file in `dir`; its name goes to `name`.
int create_temp_in(int dir, char* name, std::size_t size, mode_t mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        next_temp_name(name, size);
        const int fd = ::openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// A destination that may not be replaced: a directory, or a file without
// write permission (the read-only attribute) unless the caller may replace
// protected files (-O). Replacing renames a new file over the old name: the
// old file's own permissions, and those of its other hard links, stay.
bool destination_refuses(int dir, const char* leaf, bool replace_protected) {
    struct stat st {};
    if (::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return true;
    }
    if (!replace_protected && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return true;
    }
    return false;
}

// Carries the user extended attributes (the named streams) from one open
// file to another. False when one could not be written.
bool copy_user_xattrs(int from, int to) {
    thread_local std::vector<char> names;
    thread_local std::vector<char> value;
    ssize_t listed = ::flistxattr(from, nullptr, 0);
    if (listed <= 0) {
        return true;  // none, or the file system has none
    }
    names.resize(static_cast<std::size_t>(listed));
    listed = ::flistxattr(from, names.data(), names.size());
    if (listed < 0) {
        return true;
    }
    for (std::size_t pos = 0; pos < static_cast<std::size_t>(listed);) {
        const char* name = names.data() + pos;
        const std::size_t len = std::strlen(name);
        pos += len + 1;
        if (std::strncmp(name, "user.", 5) != 0) {
            continue;
        }
        ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0) {
            return false;
        }
        value.resize(static_cast<std::size_t>(size) + 1);
        size = ::fgetxattr(from, name, value.data(), value.size());
        if (size < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
            return false;
        }
    }
    return true;
}

// How far a stretch of the copy got: `reached` is where the source ended
// when it is shorter than the stretch (it was cut while being copied).
struct StretchEnd {
    CopyResult result;
    std::uint64_t reached;
    // A read came back short at `reached`: the file ended there as it was
    // read (a regular file's read is short only at its end).
    bool ended = false;
};

// Calls `transfer` (pread or pwrite) until all `size` bytes at `offset`
// are moved: false at an error or at the end of the file.
template <class Bytes, class Transfer>
bool transfer_fully_at(Transfer transfer, int fd, Bytes* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool write_fully_at(int fd, const unsigned char* data, std::size_t size, std::uint64_t offset) {
    return transfer_fully_at(::pwrite, fd, data, size, offset);
}

// Writes a piece read at `at` to the same place in `to`, hands it to the
// feed and lets the read-back follow; false when the write fails.
bool put_piece(int to, const unsigned char* buffer, std::size_t n, std::uint64_t& at, const CopyFeed* feed,
               posix::ReadBack* reader) {
    if (!write_fully_at(to, buffer, n, at)) {
        return false;
    }
    if (feed != nullptr) {
        feed->take(feed->context, buffer, n);
    }
    count_copied_bytes(n);
    at += static_cast<std::uint64_t>(n);
    if (reader != nullptr) {
        posix::read_back_advance(*reader, at);
    }
    return true;
}

// Copies [at, end) of `from` to the same place in `to` through the buffer,
// handing each piece written to the feed when there is one.
StretchEnd copy_stretch_by_reading(int from, int to, std::uint64_t at, std::uint64_t end, const CopyFeed* feed,
                                   posix::ReadBack* reader) {
    unsigned char* buffer = copy_buffer();
    if (buffer == nullptr) {
        return {CopyResult::failed, at};
    }
    while (at < end) {
        if (interrupt_requested()) {
            return {CopyResult::interrupted, at};
        }
        // The last piece is asked for with a byte to spare, so that a short
        // read shows the end of the file without a read of its own.
        const std::uint64_t left = end - at;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(copy_buffer_bytes, left + 1));
        const ssize_t n = ::pread(from, buffer, want, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return {CopyResult::failed, at};
        }
        if (n == 0) {
            return {CopyResult::copied, at, true};
        }
        // A byte past `end` belongs to what follows the stretch.
        const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), left));
        if (!put_piece(to, buffer, got, at, feed, reader)) {
            return {CopyResult::failed, at};
        }
        if (static_cast<std::size_t>(n) < want) {
            return {CopyResult::copied, at, true};
        }
    }
    return {CopyResult::copied, at};
}

// Copies [at, end) inside the kernel while it can (`kernel` is cleared for
// the rest of the file when it refuses this pair of files), the rest
// through the buffer.
StretchEnd copy_stretch(int from, int to, std::uint64_t at, std::uint64_t end, bool& kernel, const CopyFeed* feed,
                        posix::ReadBack* reader) {
    constexpr std::uint64_t kernel_chunk = 8U * 1024U * 1024U;
    while (kernel && at < end) {
        if (interrupt_requested()) {
            return {CopyResult::interrupted, at};
        }
        auto in = static_cast<loff_t>(at);
        auto out = static_cast<loff_t>(at);
        const ssize_t n = ::copy_file_range(from, &in, to, &out, std::min(kernel_chunk, end - at), 0);
        if (n > 0) {
            count_copied_bytes(static_cast<std::uint64_t>(n));
            at += static_cast<std::uint64_t>(n);
            if (reader != nullptr) {
                posix::read_back_advance(*reader, at);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF &&
            errno != EPERM && errno != ETXTBSY) {
            return {CopyResult::failed, at};
        }
        // Refused, or no data where some should be: some file systems
        // report none for files they fill on reading. Reading tells.
        kernel = n == 0;
        break;
    }
    return copy_stretch_by_reading(from, to, at, end, feed, reader);
}

// Fewer blocks than the length needs: the file may have holes worth keeping.
bool has_holes(const struct stat& st) {
    return static_cast<std::uint64_t>(st.st_blocks) * 512U < static_cast<std::uint64_t>(st.st_size);
}

// After the reported size of a file: one read tells whether the file holds
// more than it reports (procfs, sysfs and some FUSE file systems report 0
// or a page for what they fill on reading). While the file still reports
// the size it was opened with, what follows is copied to the end; one that
// grew since it was opened is not chased (the copy tells it changed).
StretchEnd copy_past_reported_size(int from, int to, std::uint64_t at, std::uint64_t reported, const CopyFeed* feed,
                                   posix::ReadBack* reader) {
    unsigned char* buffer = copy_buffer();
    if (buffer == nullptr) {
        return {CopyResult::failed, at};
    }
    ssize_t n = 0;
    do {
        n = ::pread(from, buffer, copy_buffer_bytes, static_cast<off_t>(at));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return {n == 0 ? CopyResult::copied : CopyResult::failed, at};
    }
    struct stat now {};
    if (::fstat(from, &now) != 0 || static_cast<std::uint64_t>(now.st_size) != reported) {
        return {CopyResult::copied, at};
    }
    if (!put_piece(to, buffer, static_cast<std::size_t>(n), at, feed, reader)) {
        return {CopyResult::failed, at};
    }
    return copy_stretch_by_reading(from, to, at, UINT64_MAX, feed, reader);
}

// Copies `from` into `to`, stretch of data by stretch of data up to `size`
// (its size when it was opened), so that holes stay holes, and then
// whatever it holds beyond the size it reports. A source cut short while it
// is copied gives a copy of what it still had. A feed that takes the bytes
// keeps the copy out of the kernel: the bytes hashed are the bytes written.
// `length` receives the copy's length.
CopyResult copy_data(int from, int to, std::uint64_t size, const CopyFeed* feed, bool may_have_holes,
                     posix::ReadBack* reader, std::uint64_t& length) {
    const std::uint64_t reported = size;
    const CopyFeed* taker = feed != nullptr && feed->take != nullptr ? feed : nullptr;
    bool kernel = taker == nullptr;
    length = 0;
    if (!may_have_holes) {
        // Every block holds data: one stretch, and the copy's length is
        // what was written.
        StretchEnd end = copy_stretch(from, to, 0, size, kernel, taker, reader);
        if (end.result == CopyResult::copied && end.reached == size && !end.ended) {
            end = copy_past_reported_size(from, to, end.reached, reported, taker, reader);
        }
        length = end.reached;
        return end.result;
    }
    std::uint64_t offset = 0;
    while (offset < size) {
        const auto stretch = posix::next_data(from, offset, size);
        if (!stretch) {
            break;
        }
        if (taker != nullptr) {
            feed_zeros(taker, stretch->begin - offset);
        }
        const StretchEnd end = copy_stretch(from, to, stretch->begin, stretch->end, kernel, taker, reader);
        if (end.result != CopyResult::copied) {
            return end.result;
        }
        if (end.reached < stretch->end) {
            size = end.reached;
            offset = size;
            break;
        }
        offset = stretch->end;
    }
    struct stat st {};
    if (::fstat(from, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < size) {
        size = static_cast<std::uint64_t>(st.st_size);
    }
    if (taker != nullptr && offset < size) {
        feed_zeros(taker, size - offset);
    }
    // The length, holes at the end included.
    if (::ftruncate(to, static_cast<off_t>(size)) != 0) {
        return CopyResult::failed;
    }
    length = size;
    if (size != reported) {
        return CopyResult::copied;  // cut short while it was copied
    }
    const StretchEnd end = copy_past_reported_size(from, to, size, reported, taker, reader);
    length = end.reached;
    return end.result;
}

// Files from this size on are read back while they are copied; a smaller
// one is read after, in one or two reads.
constexpr std::uint64_t read_back_from_bytes = 4U * copy_buffer_bytes;

// The copy read back on the copying thread: each piece the copy hands to
// its feed has just been written at `at`, and is read back from there and
// handed with the source's piece to take_both. After a read of the copy
// fails, the source's pieces go on alone and the copy is read after it is
// made.
struct SameThreadReadBack {
    const CopyFeed* feed;
    int fd;
    unsigned char* buffer;
    std::uint64_t at = 0;
    bool failed = false;

    static void take(void* self, const unsigned char* data, std::size_t size) {
        static_cast<SameThreadReadBack*>(self)->take_piece(data, size);
    }

    void take_piece(const unsigned char* data, std::size_t size) {
        std::size_t got = 0;
        while (!failed && got < size) {
            const ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(at + got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            failed = n <= 0;
            got += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        if (failed) {
            feed->take(feed->context, data, size);
        } else {
            feed->take_both(feed->context, data, feed->copy_context, buffer, size);
        }
        at += static_cast<std::uint64_t>(size);
    }
};

bool read_fully_at(int fd, unsigned char* data, std::size_t size, std::uint64_t offset) {
    return transfer_fully_at(::pread, fd, data, size, offset);
}

// A second source buffer and a second read-back buffer, for the piece
// copied while the partner hashes the one before.
unsigned char* second_buffers() {
    thread_local ThreadOwned<std::array<unsigned char, 2 * copy_buffer_bytes>> buffers;
    auto* bytes = buffers.try_get();
    return bytes == nullptr ? nullptr : bytes->data();
}

// copy_stretch_by_reading for a paired copy with a partner thread: this
// thread reads each piece, writes it and reads it back, and hands both to
// the partner to hash while it goes on with the next piece in the other
// pair of buffers; so the copy's calls and the digests overlap. After a
// read of the copy fails, the source's pieces go on alone (see
// SameThreadReadBack). Every piece is hashed when this returns.
StretchEnd copy_stretch_pipelined(int from, int to, std::uint64_t end, SameThreadReadBack& paired,
                                  posix::ReadBack& partner) {
    unsigned char* source = copy_buffer();
    unsigned char* second = second_buffers();
    if (source == nullptr || second == nullptr) {
        return {CopyResult::failed, paired.at};
    }
    const std::array<unsigned char*, 2> sources = {source, second};
    const std::array<unsigned char*, 2> copies = {paired.buffer, second + copy_buffer_bytes};
    std::size_t slot = 0;
    StretchEnd done{CopyResult::copied, paired.at};
    while (done.reached < end) {
        if (interrupt_requested()) {
            done.result = CopyResult::interrupted;
            break;
        }
        const std::uint64_t at = done.reached;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(copy_buffer_bytes, end - at));
        const ssize_t n = ::pread(from, sources.at(slot), want, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            done.result = n == 0 ? CopyResult::copied : CopyResult::failed;
            break;
        }
        const auto got = static_cast<std::size_t>(n);
        if (!write_fully_at(to, sources.at(slot), got, at)) {
            done.result = CopyResult::failed;
            break;
        }
        count_copied_bytes(got);
        paired.failed = paired.failed || !read_fully_at(to, copies.at(slot), got, at);
        posix::hash_on_partner(partner, *paired.feed, sources.at(slot), paired.failed ? nullptr : copies.at(slot), got);
        done.reached = at + got;
        paired.at = done.reached;
        slot = 1 - slot;
    }
    posix::partner_hashed(partner);
    return done;
}

// copy_data with the copy read back on the copying thread, both sides'
// digests side by side: on the partner thread, piece by piece while the
// copy goes on, when there is one.
CopyResult copy_data_paired(int from, int to, const struct stat& st, CopyFeed* feed, unsigned char* buffer,
                            posix::ReadBack* partner) {
    SameThreadReadBack paired{feed, to, buffer};
    CopyFeed through = *feed;
    through.take = &SameThreadReadBack::take;
    through.context = &paired;
    std::uint64_t length = 0;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    CopyResult result = CopyResult::copied;
    if (partner == nullptr) {
        result = copy_data(from, to, size, &through, false, nullptr, length);
    } else {
        // As copy_data does for a file without holes, the stretch up to the
        // size on the partner.
        StretchEnd end = copy_stretch_pipelined(from, to, size, paired, *partner);
        if (end.result == CopyResult::copied && end.reached == size) {
            end = copy_past_reported_size(from, to, end.reached, size, &through, nullptr);
        }
        length = end.reached;
        result = end.result;
    }
    feed->read_known = result == CopyResult::copied;
    feed->read_size = length;
    struct stat made {};
    feed->copy_read_back = result == CopyResult::copied && !paired.failed && paired.at == length &&
                           ::fstat(to, &made) == 0 && static_cast<std::uint64_t>(made.st_size) == length;
    return result;
}

// Files up to this size have their source's bytes held while they are
// copied, and the copy read back in one read once it has its name (see
// HeldReadBack): the source's bytes in the first half of the read-back
// buffer, the copy's in the second.
constexpr std::size_t held_read_back_bytes = copy_buffer_bytes / 2;

// A small copy's read-back, on the copying thread, held until the copy has
// its name: the source's bytes are kept as they are copied (nothing is
// handed to the feed meanwhile), then the named copy is read through the
// descriptor that wrote it, so that whatever happened to it as it took its
// name is read, and both go to take_both at once. One read, where opening
// the named copy again costs a dozen calls. The source's bytes go to the
// feed alone when they outgrow the half buffer (a source longer than it
// said) or the copy cannot be read back so: it is then read after it is
// made, by its name.
struct HeldReadBack {
    const CopyFeed* feed = nullptr;
    unsigned char* buffer = nullptr;
    std::size_t size = 0;
    bool held = false;  // the source's bytes wait in the buffer for the copy's

    static void take(void* self, const unsigned char* data, std::size_t size) {
        static_cast<HeldReadBack*>(self)->take_piece(data, size);
    }

    void take_piece(const unsigned char* data, std::size_t n) {
        if (held && size + n <= held_read_back_bytes) {
            std::memcpy(buffer + size, data, n);
            size += n;
            return;
        }
        let_go();
        feed->take(feed->context, data, n);
    }

    // The source's bytes held so far go to the feed alone.
    void let_go() {
        if (held) {
            held = false;
            feed->take(feed->context, buffer, size);
        }
    }

    // Reads the named copy through `fd` and hands both sides to the feed:
    // copy_read_back when the copy is exactly the bytes held, else the
    // source's bytes alone.
    void read_copy(int fd, CopyFeed* to_feed) {
        if (!held) {
            return;
        }
        unsigned char* copy = buffer + held_read_back_bytes;
        std::size_t got = 0;
        ssize_t n = 0;
        // One byte more than the source had: a longer copy is no match.
        while (got <= size) {
            const std::size_t want = size + 1 - got;
            n = ::pread(fd, copy + got, want, static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < want) {
                break;  // a short read: the copy ends here
            }
        }
        if (n < 0 || got != size) {
            let_go();
            return;
        }
        held = false;
        to_feed->take_both(to_feed->context, buffer, to_feed->copy_context, copy, size);
        to_feed->copy_read_back = true;
    }
};

// copy_data with the source's bytes held for HeldReadBack.
CopyResult copy_data_held(int from, int to, const struct stat& st, CopyFeed* feed, HeldReadBack& held) {
    CopyFeed through = *feed;
    through.take = &HeldReadBack::take;
    through.context = &held;
    std::uint64_t length = 0;
    const CopyResult result =
        copy_data(from, to, static_cast<std::uint64_t>(st.st_size), &through, false, nullptr, length);
    feed->read_known = result == CopyResult::copied;
    feed->read_size = length;
    if (result != CopyResult::copied || length != held.size) {
        held.let_go();
    }
    return result;
}

// copy_data, with the copy read back and handed to feed->take_copy on the
// partner thread as it is made, when that is asked for and worth a thread;
// or on the copying thread itself, each piece with the source's, when the
// feed takes both at once and no partner is offered (from the same size
// on). With `held` given (the copy can be read through `to` once it has its
// name without moving its last-access time), a small copy is read back
// then, on the copying thread (see HeldReadBack). `to` is open for reading
// too.
CopyResult copy_data_read_back(int from, int to, const struct stat& st, CopyFeed* feed, HeldReadBack* held) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t length = 0;
    posix::ReadBack* reader = nullptr;
    if (feed != nullptr) {
        feed->copy_read_back = false;
        if (feed->take != nullptr && feed->take_copy != nullptr && feed->take_both != nullptr && !has_holes(st) &&
            (size >= read_back_from_bytes || (held != nullptr && size <= held_read_back_bytes))) {
            if (unsigned char* buffer = read_back_buffer()) {
                if (size >= read_back_from_bytes) {
                    return copy_data_paired(
                        from, to, st, feed, buffer,
                        feed->read_back != nullptr ? posix::read_back_partner(*feed->read_back) : nullptr);
                }
                *held = HeldReadBack{feed, buffer, 0, true};
                return copy_data_held(from, to, st, feed, *held);
            }
        }
        if (feed->take_copy != nullptr && feed->read_back != nullptr && size >= read_back_from_bytes) {
            reader = posix::read_back_partner(*feed->read_back);
        }
    }
    if (reader == nullptr) {
        const CopyResult result = copy_data(from, to, size, feed, has_holes(st), nullptr, length);
        if (feed != nullptr) {
            feed->read_known = result == CopyResult::copied;
            feed->read_size = length;
        }
        return result;
    }
    posix::read_back_start(*reader, to, feed->take_copy, feed->copy_context);
    const CopyResult result = copy_data(from, to, size, feed, has_holes(st), reader, length);
    feed->read_known = result == CopyResult::copied;
    feed->read_size = length;
    struct stat made {};
    if (result == CopyResult::copied && ::fstat(to, &made) == 0) {
        feed->copy_read_back = posix::read_back_finish(*reader, static_cast<std::uint64_t>(made.st_size));
    } else {
        posix::read_back_abandon(*reader);
    }
    return result;
}

}  // namespace

// ---- directory search --------------------------------------------------

struct DirectorySearch::State {
    DIR* dir = nullptr;
    std::string pattern;
    bool match_all = true;
    bool ntfs = false;
    SearchDetail detail = SearchDetail::full;
    std::string proc_path;
    std::error_code failure;
};

DirectorySearch::DirectorySearch() : state_(nullptr) {}

DirectorySearch::~DirectorySearch() {
    close();
    delete state_;
}

std::error_code DirectorySearch::open(const std::string& dir_path, const std::string& pattern, SearchDetail detail) {
    close();
    AtPath at(dir_path);
    if (!at.ok()) {
        return errno_error();
    }
    const int fd =
        open_no_atime(at.dir(), at.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (at.confined() ? O_NOFOLLOW : 0));
    if (fd < 0) {
        return errno_error();
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const std::error_code error = errno_error();
        ::close(fd);
        return error;
    }
    if (state_ == nullptr) {
        state_ = new State;
    }
    state_->dir = dir;
    state_->failure.clear();
    state_->pattern = pattern;
    state_->match_all = pattern.empty() || pattern == "*" || pattern == "*.*";
    state_->detail = detail;
    state_->ntfs = false;
    if (detail == SearchDetail::full) {
        struct statfs fs {};
        state_->ntfs = ::fstatfs(fd, &fs) == 0 && is_ntfs_like(static_cast<long>(fs.f_type));
    }
    return {};
}

bool DirectorySearch::next(FindRecord& record) {
    if (state_ == nullptr || state_->dir == nullptr) {
        return false;
    }
    State& st = *state_;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(st.dir);
        if (entry == nullptr) {
            if (errno != 0) {
                st.failure = errno_error();
            }
            return false;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (!st.match_all && !long_name_matches(st.pattern, name)) {
            continue;
        }
        const int dir_fd = ::dirfd(st.dir);
        if (st.detail == SearchDetail::kind_only && entry->d_type != DT_UNKNOWN) {
            record.name.assign(name);
            record.times = FileTimeSet{};
            record.size = 0;
            record.ownership = FileOwnership{};
            switch (entry->d_type) {
                case DT_DIR:
                    record.kind = EntryKind::directory;
                    record.attributes = attr_directory;
                    break;
                case DT_LNK:
                    record.kind = EntryKind::symlink;
                    record.attributes = attr_reparse_point;
                    break;
                case DT_REG:
                    record.kind = EntryKind::regular;
                    record.attributes = attr_normal;
                    break;
                default:
                    record.kind = EntryKind::special;
                    record.attributes = attr_normal;
                    break;
            }
            return true;
        }
        struct statx sx {};
        if (::statx(dir_fd, name, statx_flags, statx_mask, &sx) != 0) {
            continue;  // gone since the directory was read
        }
        fill_record(sx, name, record);
        if (st.ntfs) {
            st.proc_path = "/proc/self/fd/" + std::to_string(dir_fd) + "/" + name;
            read_ntfs_extras(st.proc_path.c_str(), record);
        }
        return true;
    }
}

std::error_code DirectorySearch::failure() const {
    return state_ != nullptr ? state_->failure : std::error_code();
}

void DirectorySearch::close() {
    if (state_ != nullptr && state_->dir != nullptr) {
        ::closedir(state_->dir);
        state_->dir = nullptr;
    }
}

// ---- look-ups, times, attributes ---------------------------------------

std::error_code lookup_path(const std::string& path, FindRecord& record) {
    Target at(path);
    if (!at.ok()) {
        return errno_error();
    }
    struct statx sx {};
    if (::statx(at.dir(), at.name(), statx_flags, statx_mask, &sx) != 0) {
        return errno_error();
    }
    thread_local std::string name;
    fill_record(sx, last_component(path, name), record);
    if (directory_is_ntfs_like(path)) {
        read_ntfs_extras(at.xattr_path(), record);
    }
    return {};
}

std::error_code set_times(const std::string& path, const FileTimeSet& times, bool& creation_set) {
    creation_set = false;
    Target at(path);
    if (!at.ok()) {
        return errno_error();
    }
    const timespec ts[2] = {to_timespec(times.last_access), to_timespec(times.last_write)};  // NOLINT
    if (::utimensat(at.dir(), at.name(), ts, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno_error();
    }
    if (times.creation.ticks != 0 && directory_is_ntfs_like(path)) {
        const std::uint64_t crtime = times.creation.ticks;
        creation_set = ::lsetxattr(at.xattr_path(), ntfs_crtime_name, &crtime, sizeof crtime, 0) == 0;
    }
    return {};
}

std::error_code get_attributes(const std::string& path, std::uint32_t& attributes) {
    thread_local FindRecord record;
    if (const std::error_code error = lookup_path(path, record)) {
        return error;
    }
    attributes = record.attributes;
    return {};
}

std::error_code set_attributes(const std::string& path, std::uint32_t attributes) {
    Target at(path);
    if (!at.ok()) {
        return errno_error();
    }
    struct stat st {};
    if (::fstatat(at.dir(), at.name(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno_error();
    }
    if (S_ISLNK(st.st_mode)) {
        return {};  // a link has no attributes of its own to set
    }
    if (!S_ISDIR(st.st_mode)) {
        mode_t mode = st.st_mode & 07777;
        if ((attributes & attr_readonly) != 0) {
            mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
        } else {
            mode |= S_IWUSR;
        }
        if (mode != (st.st_mode & 07777) && ::fchmodat(at.dir(), at.name(), mode, 0) != 0) {
            return errno_error();
        }
    }
    if (directory_is_ntfs_like(path)) {
        std::uint32_t current = 0;
        const char* xpath = at.xattr_path();
        if (::lgetxattr(xpath, ntfs_attrib_name, &current, sizeof current) == static_cast<ssize_t>(sizeof current)) {
            const std::uint32_t settable = attr_readonly | attr_system | attr_archive;
            std::uint32_t wanted = (current & ~(settable | attr_normal)) | (attributes & settable);
            if (wanted == 0) {
                wanted = attr_normal;
            }
            if (wanted != current && ::lsetxattr(xpath, ntfs_attrib_name, &wanted, sizeof wanted, 0) != 0) {
                return errno_error();
            }
        }
    }
    return {};
}

// ---- copies ------------------------------------------------------------

// Gives the finished, still unnamed file `fd` the destination's name:
// linked in directly when nothing stands there, otherwise linked under a
// temporary name and renamed over what stands there (unless that may not be
// replaced).
bool publish_unnamed_at(int fd, int dir, const char* leaf, bool replace_protected) {
    char proc[64];  // NOLINT(modernize-avoid-c-arrays)
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    auto link_as = [&](const char* name) {
        if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0) {
            return true;
        }
        // Without the privilege that AT_EMPTY_PATH asks for, the same link
        // through the descriptor's /proc entry.
        return errno == ENOENT && ::linkat(AT_FDCWD, proc, dir, name, AT_SYMLINK_FOLLOW) == 0;
    };
    if (link_as(leaf)) {
        return true;
    }
    if (errno != EEXIST || destination_refuses(dir, leaf, replace_protected)) {
        return false;
    }
    char temp[64];  // NOLINT(modernize-avoid-c-arrays)
    for (int attempt = 0; attempt < 100; ++attempt) {
        next_temp_name(temp, sizeof temp);
        if (link_as(temp)) {
            if (::renameat(dir, temp, dir, leaf) == 0) {
                return true;
            }
            ::unlinkat(dir, temp, 0);
            return false;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool publish_unnamed(int fd, const ParentDir& parent, bool replace_protected) {
    return publish_unnamed_at(fd, parent.fd(), parent.leaf(), replace_protected);
}

std::error_code copy_interrupted_error() {
    return std::make_error_code(std::errc::operation_canceled);
}

namespace {

// The owner and group of `st` given to the new file `to`, and the
// permission bits it may then take: all of them when both were carried
// (the change of owner comes first, as it clears setuid and setgid);
// otherwise the group alone where the account belongs to it, and the bits
// without setuid, setgid and sticky, as `cp -a` does.
mode_t owner_and_mode_bits(int to, const struct stat& st, bool& owner_kept) {
    struct stat now {};
    owner_kept = ::fstat(to, &now) == 0 && now.st_uid == st.st_uid && now.st_gid == st.st_gid;
    if (!owner_kept) {
        owner_kept = ::fchown(to, st.st_uid, st.st_gid) == 0;
    }
    if (owner_kept) {
        return st.st_mode & 07777;
    }
    if (now.st_gid != st.st_gid) {
        (void)::fchown(to, static_cast<uid_t>(-1), st.st_gid);  // kept where permitted, nothing lost otherwise
    }
    return st.st_mode & 0777;
}

// The owner, the permission bits and the times travel with the data, so
// that a complete copy never carries a name without its source's times:
// the source's owner and bits (see owner_and_mode_bits), with the owner's
// write bit when the feed asks for a writable copy, and the feed's times,
// or else the source's. `settled` tells whether that is all the
// destination's file system keeps of them.
std::error_code carry_mode_and_times(int to, const struct stat& st, CopyFeed* feed, const std::string& destination,
                                     bool& settled) {
    bool owner_kept = true;
    mode_t mode = owner_and_mode_bits(to, st, owner_kept);
    timespec ts[2] = {st.st_atim, st.st_mtim};  // NOLINT(modernize-avoid-c-arrays)
    if (feed != nullptr) {
        feed->owner_kept = owner_kept;
        mode |= feed->writable ? S_IWUSR : 0;
        if (feed->times != nullptr) {
            ts[0] = to_timespec(feed->times->last_access);
            ts[1] = to_timespec(feed->times->last_write);
        }
    }
    if (::fchmod(to, mode) != 0 || ::futimens(to, ts) != 0) {
        return errno_error();
    }
    settled = feed != nullptr && feed->times != nullptr && !directory_is_ntfs_like(destination);
    return {};
}

// Tells the feed the source as it was opened: its size and times as the
// copy starts, and whether its last-access time is protected.
void tell_opened(CopyFeed& feed, const struct stat& st, bool protected_atime) {
    feed.access_unprotected = !protected_atime;
    feed.opened_known = true;
    feed.opened_size = static_cast<std::uint64_t>(st.st_size);
    feed.opened_times.last_access = from_timestamp(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    feed.opened_times.last_write = from_timestamp(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    feed.opened_times.creation = FileTime{};
}

}  // namespace

std::error_code look_at_open_file(FileHandle& file, std::uint64_t& size, FileTimeSet& times) {
    struct statx st {};
    if (::statx(static_cast<int>(file.native()), "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, statx_mask, &st) != 0) {
        return errno_error();
    }
    size = st.stx_size;
    times.last_access = from_timestamp(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    times.last_write = from_timestamp(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    times.creation =
        (st.stx_mask & STATX_BTIME) != 0 ? from_timestamp(st.stx_btime.tv_sec, st.stx_btime.tv_nsec) : FileTime{};
    return {};
}

std::error_code copy_whole_file(const std::string& source, const std::string& destination, bool replace_protected,
                                CopyFeed* feed) {
    if (feed != nullptr) {
        feed->settled = false;
        feed->read_known = false;
    }
    struct stat st {};
    bool protected_atime = false;
    const int from = open_regular_source(source, st, protected_atime);
    if (from < 0) {
        return errno_error();
    }
    // The marks from the look at the open source: its size and times as the
    // copy starts.
    const ChangeMarks before = posix::change_marks_of(st);
    if (feed != nullptr) {
        tell_opened(*feed, st, protected_atime);
    }
    ParentDir parent(destination);
    if (!parent.ok()) {
        const std::error_code error = errno_error();
        ::close(from);
        ParentDir::forget();
        return error;
    }
    // The copy is made as a file without a name where the file system
    // allows it: whatever ends the copy early, even the end of the process,
    // leaves nothing behind. Elsewhere it gets a temporary name.
    char temp[64] = {};  // NOLINT(modernize-avoid-c-arrays)
    // Opened without moving its last-access time, so that it can be read
    // back once it has its name and its times (see HeldReadBack).
    int to = ::openat(parent.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC | O_NOATIME, 0600);
    const bool read_unmoved = to >= 0;
    if (to < 0 && errno == EPERM) {
        to = ::openat(parent.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    const bool named = to < 0;
    if (named) {
        if (destination_refuses(parent.fd(), parent.leaf(), replace_protected)) {
            const std::error_code error = errno_error();
            ::close(from);
            return error;
        }
        to = create_temp_in(parent.fd(), temp, sizeof temp, 0600);
        if (to < 0) {
            const std::error_code error = errno_error();
            ::close(from);
            ParentDir::forget();
            return error;
        }
    }
    if (st.st_size > static_cast<off_t>(copy_buffer_bytes)) {
        (void)::posix_fadvise(from, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    // The first failure's reason, taken before any cleanup can change errno.
    std::error_code error;
    HeldReadBack held;
    CopyResult result = copy_user_xattrs(from, to)
                            ? copy_data_read_back(from, to, st, feed, read_unmoved ? &held : nullptr)
                            : CopyResult::failed;
    if (result == CopyResult::failed) {
        error = errno_error();
    }
    if (feed != nullptr) {
        const std::optional<ChangeMarks> after = posix::change_marks_of(from);
        feed->source_changed = !after || !(before == *after);
    }
    ::close(from);
    bool settled = false;
    if (result == CopyResult::copied) {
        error = carry_mode_and_times(to, st, feed, destination, settled);
        if (error) {
            result = CopyResult::failed;
        }
    }
    if (!named) {
        if (result == CopyResult::copied && !publish_unnamed(to, parent, replace_protected)) {
            error = errno_error();
            result = CopyResult::failed;
        }
        if (result == CopyResult::copied && feed != nullptr) {
            held.read_copy(to, feed);
        }
        ::close(to);
        if (feed != nullptr) {
            feed->copy_read_back = feed->copy_read_back && result == CopyResult::copied;
            feed->settled = settled && result == CopyResult::copied;
        }
        return result == CopyResult::copied        ? std::error_code()
               : result == CopyResult::interrupted ? copy_interrupted_error()
                                                   : error;
    }
    if (::close(to) != 0 && result == CopyResult::copied) {
        error = errno_error();
        result = CopyResult::failed;
    }
    if (result == CopyResult::copied && ::renameat(parent.fd(), temp, parent.fd(), parent.leaf()) != 0) {
        error = errno_error();
        result = CopyResult::failed;
    }
    if (result != CopyResult::copied) {
        ::unlinkat(parent.fd(), temp, 0);
        if (feed != nullptr) {
            feed->copy_read_back = false;
        }
    } else if (feed != nullptr) {
        feed->settled = settled;
    }
    return result == CopyResult::copied        ? std::error_code()
           : result == CopyResult::interrupted ? copy_interrupted_error()
                                               : error;
}

std::error_code copy_symbolic_link(const std::string& source, const std::string& destination) {
    std::vector<char> target(PATH_MAX + 1);
    ssize_t length = -1;
    struct stat owner {};
    {
        Target at(source);
        if (!at.ok()) {
            return errno_error();
        }
        length = ::readlinkat(at.dir(), at.name(), target.data(), target.size() - 1);
        if (length >= 0 && ::fstatat(at.dir(), at.name(), &owner, AT_SYMLINK_NOFOLLOW) != 0) {
            owner.st_uid = ::geteuid();
            owner.st_gid = ::getegid();
        }
    }
    if (length < 0) {
        return errno_error();
    }
    target[static_cast<std::size_t>(length)] = '\0';
    ParentDir parent(destination);
    if (!parent.ok() || destination_refuses(parent.fd(), parent.leaf(), false)) {
        return errno_error();
    }
    char temp[64];  // NOLINT(modernize-avoid-c-arrays)
    for (int attempt = 0; attempt < 100; ++attempt) {
        next_temp_name(temp, sizeof temp);
        if (::symlinkat(target.data(), parent.fd(), temp) == 0) {
            // The link takes its source's owner and group where the process
            // may give them (root); a link has no permission bits to carry.
            if (owner.st_uid != ::geteuid() || owner.st_gid != ::getegid()) {
                (void)::fchownat(parent.fd(), temp, owner.st_uid, owner.st_gid, AT_SYMLINK_NOFOLLOW);
            }
            if (::renameat(parent.fd(), temp, parent.fd(), parent.leaf()) == 0) {
                return {};
            }
            const std::error_code error = errno_error();
            ::unlinkat(parent.fd(), temp, 0);
            return error;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return errno_error();
}

void confine_writes_below(const std::string& root) {
    posix::set_confinement_root(root);
    // Directories kept from before were opened without the rule.
    forget_slot(destination_slot());
    forget_slot(source_slot());
}

std::error_code open_source_file(const std::string& path, FileHandle& file, bool* access_unprotected) {
    struct stat st {};
    bool protected_atime = false;
    const int fd = open_regular_source(path, st, protected_atime);
    if (fd < 0) {
        file.close();
        return errno_error();
    }
    if (access_unprotected != nullptr) {
        *access_unprotected = !protected_atime;
    }
    file = FileHandle(fd);
    return {};
}

bool has_no_named_streams(const std::string& path) {
    std::size_t leaf_at = 0;
    if (!aim_slot(source_slot(), path, leaf_at) || is_dot_leaf(path, leaf_at)) {
        return false;
    }
    // The kept source directory names the file through /proc, so that the
    // list is read without opening it (one call instead of four) and the
    // path above the directory is not walked again; a link is not followed.
    std::array<char, 32 + NAME_MAX + 1> through{};
    const int written =
        std::snprintf(through.data(), through.size(), "/proc/self/fd/%d/%s", source_slot().fd, path.c_str() + leaf_at);
    if (written < 0 || static_cast<std::size_t>(written) >= through.size()) {
        return false;
    }
    std::array<char, 1024> names{};
    const ssize_t length = ::llistxattr(through.data(), names.data(), names.size());
    if (length < 0) {
        return false;  // too many to list here, no /proc, no such file: the listing tells
    }
    for (std::size_t at = 0; at < static_cast<std::size_t>(length);) {
        const char* name = names.data() + at;
        const std::size_t size = ::strnlen(name, static_cast<std::size_t>(length) - at);
        if (size > 5 && std::strncmp(name, "user.", 5) == 0) {
            return false;
        }
        at += size + 1;
    }
    return true;
}

std::error_code carry_owner_and_mode(FileHandle& from, FileHandle& to, bool writable, bool& owner_kept) {
    struct stat st {};
    if (::fstat(static_cast<int>(from.native()), &st) != 0) {
        return errno_error();
    }
    mode_t mode = owner_and_mode_bits(static_cast<int>(to.native()), st, owner_kept);
    mode |= writable ? S_IWUSR : 0;
    if (::fchmod(static_cast<int>(to.native()), mode) != 0) {
        return errno_error();
    }
    return {};
}

std::error_code read_link_target(const std::string& path, std::string& target) {
    thread_local std::vector<char> text(PATH_MAX + 1);
    Target at(path);
    if (!at.ok()) {
        return errno_error();
    }
    struct stat before {};
    const bool looked = ::fstatat(at.dir(), at.name(), &before, AT_SYMLINK_NOFOLLOW) == 0;
    const ssize_t length = ::readlinkat(at.dir(), at.name(), text.data(), text.size() - 1);
    if (length < 0) {
        return errno_error();
    }
    // Reading a link moves its last-access time: put back where permitted.
    if (looked) {
        const timespec ts[2] = {before.st_atim, {0, UTIME_OMIT}};  // NOLINT(modernize-avoid-c-arrays)
        (void)::utimensat(at.dir(), at.name(), ts, AT_SYMLINK_NOFOLLOW);
    }
    target.assign(text.data(), static_cast<std::size_t>(length));
    return {};
}

std::error_code create_temporary_beside(const std::string& destination, std::string& temp_path, FileHandle& file) {
    file.close();
    ParentDir parent(destination);
    if (!parent.ok()) {
        return errno_error();
    }
    char temp[64];  // NOLINT(modernize-avoid-c-arrays)
    const int fd = create_temp_in(parent.fd(), temp, sizeof temp, 0666);
    if (fd < 0) {
        return errno_error();
    }
    temp_path = parent.dir_path();
    if (temp_path.back() != '/') {
        temp_path += '/';
    }
    temp_path += temp;
    file = FileHandle(fd);
    return {};
}

std::error_code rename_over(const std::string& from, const std::string& to, bool /*replace_protected*/) {
    // A rename replaces a read-only file without changing it.
    Target a(from);
    if (!a.ok()) {
        return errno_error();
    }
    Target b(to);
    if (!b.ok() || ::renameat(a.dir(), a.name(), b.dir(), b.name()) != 0) {
        return errno_error();
    }
    return {};
}

std::error_code remove_file(const std::string& path) {
    Target at(path);
    if (!at.ok() || ::unlinkat(at.dir(), at.name(), 0) != 0) {
        return errno_error();
    }
    return {};
}

std::error_code make_directory(const std::string& path) {
    AtPath at(path);
    if (!at.ok() || ::mkdirat(at.dir(), at.name(), 0777) != 0) {
        return errno_error();
    }
    return {};
}

FileTime local_file_time(FileTime utc) {
    const auto seconds =
        static_cast<time_t>(static_cast<std::int64_t>(utc.ticks / ticks_per_second) - seconds_1601_to_1970);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return utc;
    }
    const std::int64_t shift = static_cast<std::int64_t>(local.tm_gmtoff) * static_cast<std::int64_t>(ticks_per_second);
    if (shift < 0 && static_cast<std::uint64_t>(-shift) > utc.ticks) {
        return FileTime{0, utc.extra_ns};
    }
    return FileTime{static_cast<std::uint64_t>(static_cast<std::int64_t>(utc.ticks) + shift), utc.extra_ns};
}

std::string file_system_root(const std::string& path) {
    std::string current = path.empty() ? std::string("/") : path;
    struct stat st {};
    while (::stat(current.c_str(), &st) != 0) {
        const std::size_t slash = current.find_last_of('/');
        if (slash == std::string::npos || current == "/") {
            return "/";
        }
        current = slash == 0 ? std::string("/") : current.substr(0, slash);
    }
    const dev_t device = st.st_dev;
    while (current != "/") {
        const std::size_t slash = current.find_last_of('/');
        const std::string up = slash == 0 || slash == std::string::npos ? std::string("/") : current.substr(0, slash);
        struct stat above {};
        if (::stat(up.c_str(), &above) != 0 || above.st_dev != device) {
            break;
        }
        current = up;
    }
    return current;
}

namespace {

// Each copy of a group holds one piece of its source and the same piece
// read back from its copy per round, in two sets: the round copied and the
// round being hashed on the partner thread.
constexpr std::size_t group_piece_bytes = std::size_t{128} << 10U;

unsigned char* group_buffers() {
    thread_local ThreadOwned<std::array<unsigned char, 4 * most_grouped_copies * group_piece_bytes>> buffers;
    auto* bytes = buffers.try_get();
    return bytes == nullptr ? nullptr : bytes->data();
}

// One copy of a group, from its open source to its named copy. Its
// destination directory is its own descriptor: the directory kept between
// files may be aimed elsewhere by the next copy of the group.
struct GroupMember {
    GroupedCopy* copy = nullptr;
    int from = -1;
    int to = -1;
    int dir = -1;
    const char* leaf = "";
    struct stat st {};
    ChangeMarks before;
    std::uint64_t size = 0;
    std::uint64_t at = 0;  // bytes copied (and read back) so far
    CopyResult result = CopyResult::copied;
    std::error_code error;
    bool running = true;
    bool ended = false;  // a short read showed the source's end
    bool read_back_failed = false;
    // The two sets of buffers; `set` is the one the next piece goes in.
    std::array<unsigned char*, 2> source_pieces{};
    std::array<unsigned char*, 2> copy_pieces{};
    std::size_t set = 0;

    void close_all() {
        for (int* fd : {&from, &to, &dir}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }

    void fail() {
        error = errno_error();
        result = CopyResult::failed;
        running = false;
    }
};

// Opens a copy's source and its unnamed copy as copy_whole_file does; false
// (nothing left open) when the group cannot take it.
bool begin_member(GroupMember& m) {
    CopyFeed* feed = m.copy->feed;
    if (feed == nullptr || feed->take == nullptr || feed->take_both == nullptr) {
        return false;
    }
    bool protected_atime = false;
    m.from = open_regular_source(*m.copy->source, m.st, protected_atime);
    if (m.from < 0 || has_holes(m.st) || static_cast<std::uint64_t>(m.st.st_size) < read_back_from_bytes) {
        m.close_all();
        return false;
    }
    const ParentDir parent(*m.copy->destination);
    if (parent.ok()) {
        m.to = ::openat(parent.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC | O_NOATIME, 0600);
        if (m.to < 0 && errno == EPERM) {
            m.to = ::openat(parent.fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        }
        m.dir = m.to >= 0 ? ::fcntl(parent.fd(), F_DUPFD_CLOEXEC, 0) : -1;
        m.leaf = parent.leaf();
    }
    if (m.dir < 0 || !copy_user_xattrs(m.from, m.to)) {
        m.close_all();
        return false;
    }
    feed->settled = false;
    feed->read_known = false;
    feed->copy_read_back = false;
    m.before = posix::change_marks_of(m.st);
    tell_opened(*feed, m.st, protected_atime);
    (void)::posix_fadvise(m.from, 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint: the copy is the same without it
    m.size = static_cast<std::uint64_t>(m.st.st_size);
    return true;
}

// Copies the member's next piece and reads it back; the bytes copied.
std::size_t step_member(GroupMember& m) {
    const std::uint64_t left = m.size - m.at;
    if (left == 0) {
        m.running = false;
        return 0;
    }
    // The last piece with a byte to spare: a short read shows the end.
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(group_piece_bytes, left + 1));
    unsigned char* source_piece = m.source_pieces.at(m.set);
    ssize_t n = 0;
    do {
        n = ::pread(m.from, source_piece, want, static_cast<off_t>(m.at));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m.fail();
        return 0;
    }
    if (n == 0) {
        m.ended = true;
        m.running = false;
        return 0;
    }
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n), left));
    if (!write_fully_at(m.to, source_piece, got, m.at)) {
        m.fail();
        return 0;
    }
    count_copied_bytes(got);
    m.read_back_failed = m.read_back_failed || !read_fully_at(m.to, m.copy_pieces.at(m.set), got, m.at);
    m.at += got;
    if (static_cast<std::size_t>(n) < want) {
        m.ended = true;
        m.running = false;
    } else if (m.at == m.size) {
        m.running = false;  // a byte past the reported size: see finish_member
    }
    return got;
}

// Copies a piece of every member still running, round after round, and
// hands each round's pieces to `take` at once: both sides of a member, or
// its source alone once a read of its copy failed (its copy is then read
// after it is made). With a partner, a round is hashed there while the
// next is copied into the other set of buffers; every piece is hashed when
// this returns.
void copy_group_data(GroupMember* members, std::size_t count, TakeMany take, posix::ReadBack* partner) {
    constexpr std::size_t most = 2 * most_grouped_copies;
    std::array<std::array<void*, most>, 2> contexts{};
    std::array<std::array<const unsigned char*, most>, 2> data{};
    std::array<std::array<std::size_t, most>, 2> sizes{};
    std::size_t set = 0;
    for (;;) {
        std::size_t pieces = 0;
        for (std::size_t i = 0; i < count; ++i) {
            GroupMember& m = members[i];
            if (!m.running) {
                continue;
            }
            if (interrupt_requested()) {
                m.result = CopyResult::interrupted;
                m.running = false;
                continue;
            }
            m.set = set;
            const std::size_t got = step_member(m);
            if (got == 0) {
                continue;
            }
            contexts.at(set).at(pieces) = m.copy->feed->context;
            data.at(set).at(pieces) = m.source_pieces.at(set);
            sizes.at(set).at(pieces++) = got;
            if (!m.read_back_failed) {
                contexts.at(set).at(pieces) = m.copy->feed->copy_context;
                data.at(set).at(pieces) = m.copy_pieces.at(set);
                sizes.at(set).at(pieces++) = got;
            }
        }
        if (pieces == 0) {
            break;
        }
        if (partner != nullptr) {
            posix::hash_many_on_partner(*partner, take, contexts.at(set).data(), data.at(set).data(),
                                        sizes.at(set).data(), pieces);
            set = 1 - set;
        } else {
            take(contexts.at(set).data(), data.at(set).data(), sizes.at(set).data(), pieces);
        }
    }
    if (partner != nullptr) {
        posix::partner_hashed(*partner);
    }
}

// What follows the data, as copy_whole_file does it: whatever the source
// holds past its reported size, the change look, the owner, bits and
// times, the name.
void finish_member(GroupMember& m, bool replace_protected) {
    CopyFeed* feed = m.copy->feed;
    std::uint64_t length = m.at;
    if (m.result == CopyResult::copied && m.at == m.size && !m.ended) {
        unsigned char* buffer = read_back_buffer();
        SameThreadReadBack paired{feed, m.to, buffer, m.at, m.read_back_failed || buffer == nullptr};
        CopyFeed through = *feed;
        through.take = &SameThreadReadBack::take;
        through.context = &paired;
        const StretchEnd end = copy_past_reported_size(m.from, m.to, m.at, m.size, &through, nullptr);
        if (end.result == CopyResult::failed) {
            m.error = errno_error();
        }
        m.result = end.result;
        m.read_back_failed = paired.failed || paired.at != end.reached;
        length = end.reached;
    }
    feed->read_known = m.result == CopyResult::copied;
    feed->read_size = length;
    struct stat made {};
    feed->copy_read_back = m.result == CopyResult::copied && !m.read_back_failed && ::fstat(m.to, &made) == 0 &&
                           static_cast<std::uint64_t>(made.st_size) == length;
    const std::optional<ChangeMarks> after = posix::change_marks_of(m.from);
    feed->source_changed = !after || !(m.before == *after);
    ::close(m.from);
    m.from = -1;
    bool settled = false;
    if (m.result == CopyResult::copied) {
        m.error = carry_mode_and_times(m.to, m.st, feed, *m.copy->destination, settled);
        if (m.error) {
            m.result = CopyResult::failed;
        }
    }
    if (m.result == CopyResult::copied && !publish_unnamed_at(m.to, m.dir, m.leaf, replace_protected)) {
        m.error = errno_error();
        m.result = CopyResult::failed;
    }
    m.close_all();
    feed->copy_read_back = feed->copy_read_back && m.result == CopyResult::copied;
    feed->settled = settled && m.result == CopyResult::copied;
    m.copy->error = m.result == CopyResult::copied        ? std::error_code()
                    : m.result == CopyResult::interrupted ? copy_interrupted_error()
                                                          : m.error;
}

}  // namespace

void copy_whole_group(GroupedCopy* copies, std::size_t count, bool replace_protected, TakeMany take,
                      CopyReadBack* partner) {
    count = std::min(count, most_grouped_copies);
    unsigned char* buffers = group_buffers();
    if (buffers == nullptr || take == nullptr) {
        return;  // each is made alone
    }
    std::array<GroupMember, most_grouped_copies> members{};
    std::size_t taken = 0;
    for (std::size_t i = 0; i < count; ++i) {
        GroupMember& m = members.at(taken);
        m = GroupMember{};
        m.copy = &copies[i];
        for (std::size_t set = 0; set < 2; ++set) {
            unsigned char* pieces = buffers + (2 * (2 * taken + set)) * group_piece_bytes;
            m.source_pieces.at(set) = pieces;
            m.copy_pieces.at(set) = pieces + group_piece_bytes;
        }
        copies[i].grouped = begin_member(m);
        taken += copies[i].grouped ? 1 : 0;
    }
    copy_group_data(members.data(), taken, take, partner != nullptr ? posix::read_back_partner(*partner) : nullptr);
    for (std::size_t i = 0; i < taken; ++i) {
        finish_member(members.at(i), replace_protected);
    }
}

}  // namespace veldro::platform
