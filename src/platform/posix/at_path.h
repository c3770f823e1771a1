// Paths of any length for the *at family of calls. A path shorter than the
// system limit is used as it is; a longer one is reached by opening its
// directories a piece at a time, each piece below the limit, and naming the
// last component relative to the innermost directory descriptor.
//
// Below the confinement root (the destination the user named) every path is
// instead reached from a descriptor of that root, one component at a time,
// each directory opened without following a link: a link standing anywhere
// in the destination, or swapped in while the run goes, ends the lookup
// instead of sending a write elsewhere.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>

namespace veldro::platform::posix {

// The reason errno gives for the call that just failed; an I/O error when a
// failure left none.
inline std::error_code errno_error() {
    const int code = errno;
    return {code != 0 ? code : EIO, std::generic_category()};
}

class AtPath {
public:
    explicit AtPath(const std::string& path);
    ~AtPath();
    AtPath(const AtPath&) = delete;
    AtPath& operator=(const AtPath&) = delete;

    // False when a directory on the way could not be opened (errno says why).
    [[nodiscard]] bool ok() const { return ok_; }
    // The directory descriptor (AT_FDCWD for a short path) and the name
    // relative to it.
    [[nodiscard]] int dir() const { return dir_; }
    [[nodiscard]] const char* name() const { return name_; }
    // True when the path lies below the confinement root: the last
    // component must not be followed either.
    [[nodiscard]] bool confined() const { return confined_; }
    // A path naming the same thing that the path-only calls (the extended
    // attribute calls) accept: the path itself when short and free, otherwise
    // the name below /proc/self/fd/<descriptor>.
    [[nodiscard]] const char* short_path();

private:
    bool open_below(const std::string& path, std::size_t below_at, bool confined);

    int dir_;
    bool owned_ = false;
    bool ok_ = true;
    bool confined_ = false;
    const char* name_;
    std::string leaf_;
    std::string proc_path_;
};

// Sets the confinement root: the directory below which nothing is reached
// through a link. The root itself, and what is above it, are taken as
// named. An empty root ends the confinement.
void set_confinement_root(const std::string& root);

// "." or "..": a name that climbs instead of naming an entry.
bool is_dot_name(std::string_view name);

// Where the part below the confinement root begins in `path` (after the
// separator), or 0 when the path is not below it.
std::size_t below_confinement_root(const std::string& path);

// openat that leaves the last-access time alone where the system permits
// it (O_NOATIME is refused for files of other owners; the plain open is then
// the best there is).
int open_no_atime(int dir, const char* name, int flags);
// The same, telling in `protected_atime` whether O_NOATIME was granted.
int open_no_atime(int dir, const char* name, int flags, bool& protected_atime);

// Opens the directory at `path` (any length) with `flags` added to
// O_DIRECTORY | O_CLOEXEC (and O_NOFOLLOW below the confinement root); -1
// on failure with errno set.
int open_directory(const std::string& path, int flags);

}  // namespace veldro::platform::posix
