#include "platform/posix/at_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

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

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
};

bool identity_of(int fd, Identity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    id = Identity{st.st_dev, st.st_ino};
    return true;
}

// The directory last reached below a root, kept open with the identity of
// every directory on the way, so that the next directory (a child, a
// sibling or a parent, as a depth-first walk goes) is reached in as many
// steps as the two lie apart, not as deep as they lie: the cost of a walk
// grows with the size of the tree, not with the square of its depth. A
// step up is taken through ".." and trusted only when it arrives at the
// directory that was passed on the way down.
class DirCursor {
public:
    explicit DirCursor(bool no_follow) : no_follow_(no_follow) {}
    DirCursor(const DirCursor&) = delete;
    DirCursor& operator=(const DirCursor&) = delete;
    ~DirCursor() { reset(-1); }

    // Starts again from the directory `root` (a descriptor the caller keeps
    // open).
    void reset(int root) {
        if (fd_ >= 0 && fd_ != root_) {
            ::close(fd_);
        }
        root_ = root;
        fd_ = root;
        held_.clear();
        ends_.clear();
        levels_.clear();
    }

    // A new descriptor of the directory `dir`, given as components below the
    // root separated by '/' (empty for the root itself); -1 with errno set.
    int open(std::string_view dir) {
        if (root_ < 0) {
            errno = EBADF;
            return -1;
        }
        climb_to(shared_levels(dir));
        std::size_t pos = held_.size();
        while (pos < dir.size()) {
            if (dir[pos] == '/') {
                ++pos;
                continue;
            }
            std::size_t end = dir.find('/', pos);
            if (end == std::string_view::npos) {
                end = dir.size();
            }
            if (!descend(dir.substr(pos, end - pos))) {
                return -1;
            }
            pos = end;
        }
        return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    }

private:
    // How many of the held levels are the leading components of `dir`.
    std::size_t shared_levels(std::string_view dir) const {
        const std::string_view held(held_);
        const std::size_t limit = std::min(dir.size(), held.size());
        const auto first_difference =
            std::mismatch(dir.begin(), dir.begin() + static_cast<std::ptrdiff_t>(limit), held.begin());
        const auto same = static_cast<std::size_t>(first_difference.first - dir.begin());
        // Every level that ends inside the matching part is shared (a '/'
        // follows it in both); one that ends exactly there only when `dir`
        // ends there too or goes on below it.
        auto level = static_cast<std::size_t>(std::upper_bound(ends_.begin(), ends_.end(), same) - ends_.begin());
        if (level > 0 && ends_[level - 1] == same && same < dir.size() && dir[same] != '/') {
            --level;
        }
        return level;
    }

    void climb_to(std::size_t level) {
        while (levels_.size() > level) {
            if (levels_.size() == 1) {
                reset(root_);
                return;
            }
            const int parent = ::openat(fd_, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            Identity id;
            if (parent < 0 || !identity_of(parent, id) || !(id == levels_[levels_.size() - 2])) {
                if (parent >= 0) {
                    ::close(parent);
                }
                reset(root_);  // moved meanwhile: start again from the root
                return;
            }
            ::close(fd_);
            fd_ = parent;
            levels_.pop_back();
            ends_.pop_back();
            held_.resize(ends_.empty() ? 0 : ends_.back());
        }
    }

    bool descend(std::string_view name) {
        if (no_follow_ && is_dot_name(name)) {
            errno = EPERM;  // a name never climbs out of the root
            return false;
        }
        piece_.assign(name);
        const int next =
            ::openat(fd_, piece_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (no_follow_ ? O_NOFOLLOW : 0));
        Identity id;
        if (next < 0 || !identity_of(next, id)) {
            const int saved = errno;
            if (next >= 0) {
                ::close(next);
            }
            errno = saved;
            return false;
        }
        if (fd_ != root_) {
            ::close(fd_);
        }
        fd_ = next;
        if (!held_.empty()) {
            held_ += '/';
        }
        held_ += name;
        ends_.push_back(held_.size());
        levels_.push_back(id);
        return true;
    }

    bool no_follow_;
    int root_ = -1;
    int fd_ = -1;
    std::string held_;               // the components below the root, '/'-separated
    std::vector<std::size_t> ends_;  // where each level's name ends in held_
    std::vector<Identity> levels_;   // the directory of each level
    std::string piece_;
};

// The confinement root as named and a descriptor of it once it could be
// opened (it may be made only after it is named). Shared by every thread;
// each thread walks a cursor of its own below it.
struct Confinement {
    static constexpr std::uint64_t none = ~std::uint64_t{0} - 1;

    std::mutex lock;
    std::string root;
    int fd = -1;
    std::uint64_t generation = 0;  // moves on whenever root or fd change
    // Once the descriptor is open, it and its generation are read without
    // the lock: every look-up of every thread goes through here.
    std::atomic<std::uint64_t> open_generation{none};
    std::atomic<int> open_fd{-1};
};

Confinement& confinement() {
    static Confinement state;
    return state;
}

int confinement_fd() {
    Confinement& c = confinement();
    if (c.open_generation.load(std::memory_order_acquire) != Confinement::none) {
        return c.open_fd.load(std::memory_order_relaxed);
    }
    const std::lock_guard guard(c.lock);
    if (c.fd < 0 && !c.root.empty()) {
        c.fd = open_directory_chain(c.root);
        ++c.generation;
        if (c.fd >= 0) {
            c.open_fd.store(c.fd, std::memory_order_relaxed);
            c.open_generation.store(c.generation, std::memory_order_release);
        }
    }
    return c.fd;
}

// This thread's cursor below the confinement root.
DirCursor& confined_cursor() {
    thread_local DirCursor cursor{true};
    thread_local std::uint64_t seen = ~std::uint64_t{0};
    Confinement& c = confinement();
    if (c.open_generation.load(std::memory_order_acquire) == seen) {
        return cursor;  // the root this cursor started from is still the one
    }
    const int fd = confinement_fd();
    const std::lock_guard guard(c.lock);
    if (seen != c.generation) {
        cursor.reset(fd);
        seen = c.generation;
    }
    return cursor;
}

// Long absolute paths elsewhere: reached from "/" as named, links followed.
DirCursor& long_path_cursor() {
    static const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    thread_local DirCursor cursor{false};
    thread_local const bool ready = [] {
        cursor.reset(root);
        return true;
    }();
    (void)ready;
    return cursor;
}

// Where the last component of `path` begins after `from` (trailing
// separators left out), and where it ends.
void split_leaf(const std::string& path, std::size_t from, std::size_t& leaf_at, std::size_t& end) {
    end = path.size();
    while (end > from && path[end - 1] == '/') {
        --end;
    }
    const std::size_t slash = end > from ? path.rfind('/', end - 1) : std::string::npos;
    leaf_at = slash == std::string::npos || slash < from ? from : slash + 1;
}

}  // namespace

void set_confinement_root(const std::string& root) {
    Confinement& c = confinement();
    const std::lock_guard guard(c.lock);
    c.open_generation.store(Confinement::none, std::memory_order_release);
    ++c.generation;
    if (c.fd >= 0) {
        ::close(c.fd);
    }
    c.fd = -1;
    c.root = root;
    while (c.root.size() > 1 && c.root.back() == '/') {
        c.root.pop_back();
    }
}

bool is_dot_name(std::string_view name) {
    return name == "." || name == "..";
}

std::size_t below_confinement_root(const std::string& path) {
    const std::string& root = confinement().root;
    if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) {
        return 0;
    }
    std::size_t at = root.size();
    if (root != "/") {
        if (path[at] != '/') {
            return 0;  // a sibling that shares the root's first letters
        }
        ++at;
    }
    while (at < path.size() && path[at] == '/') {
        ++at;
    }
    return at < path.size() ? at : 0;
}

bool AtPath::open_below(const std::string& path, std::size_t below_at, bool confined) {
    std::size_t leaf_at = 0;
    std::size_t end = 0;
    split_leaf(path, below_at, leaf_at, end);
    leaf_.assign(path, leaf_at, end - leaf_at);
    name_ = leaf_.c_str();
    if (confined && is_dot_name(leaf_)) {
        errno = EPERM;
        return false;
    }
    const std::string_view dir =
        leaf_at > below_at ? std::string_view(path).substr(below_at, leaf_at - 1 - below_at) : std::string_view();
    if (confined && dir.empty()) {
        dir_ = confinement_fd();
        return dir_ >= 0;
    }
    DirCursor& cursor = confined ? confined_cursor() : long_path_cursor();
    const int fd = cursor.open(dir);
    if (fd < 0) {
        return false;
    }
    dir_ = fd;
    owned_ = true;
    return true;
}

AtPath::AtPath(const std::string& path) : dir_(AT_FDCWD), name_(path.c_str()) {
    if (const std::size_t below = below_confinement_root(path); below != 0) {
        confined_ = true;
        ok_ = open_below(path, below, true);
        return;
    }
    if (path.size() < direct_limit) {
        return;
    }
    if (path[0] == '/') {
        ok_ = open_below(path, 1, false);
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
    bool protected_atime = false;
    return open_no_atime(dir, name, flags, protected_atime);
}

int open_no_atime(int dir, const char* name, int flags, bool& protected_atime) {
    int fd = ::openat(dir, name, flags | O_NOATIME);
    protected_atime = fd >= 0;
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
    if (!owned_ && !confined_) {
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
    return ::openat(at.dir(), at.name(), flags | O_DIRECTORY | O_CLOEXEC | (at.confined() ? O_NOFOLLOW : 0));
}

}  // namespace veldro::platform::posix
