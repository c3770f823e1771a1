// Paths of any length for the *at family of calls. A path shorter than the
// system limit is used as it is; a longer one is reached by opening its
// directories a piece at a time, each piece below the limit, and naming the
// last component relative to the innermost directory descriptor.
#pragma once

#include <string>

namespace veldro::platform::posix {

class AtPath {
public:
    explicit AtPath(const std::string& path);
    ~AtPath();
    AtPath(const AtPath&) = delete;
    AtPath& operator=(const AtPath&) = delete;

    // False when a directory on the way to a long path could not be opened.
    [[nodiscard]] bool ok() const { return ok_; }
    // The directory descriptor (AT_FDCWD for a short path) and the name
    // relative to it.
    [[nodiscard]] int dir() const { return dir_; }
    [[nodiscard]] const char* name() const { return name_; }
    // A path naming the same thing that the path-only calls (the extended
    // attribute calls) accept: the path itself when short, otherwise the
    // name below /proc/self/fd/<descriptor>.
    [[nodiscard]] const char* short_path();

private:
    int dir_;
    bool owned_ = false;
    bool ok_ = true;
    const char* name_;
    std::string leaf_;
    std::string proc_path_;
};

// openat that leaves the last-access time alone where the system permits
// it (O_NOATIME is refused for files of other owners; the plain open is then
// the best there is).
int open_no_atime(int dir, const char* name, int flags);

// Opens the directory at `path` (any length) with `flags` added to
// O_DIRECTORY | O_CLOEXEC; -1 on failure with errno set.
int open_directory(const std::string& path, int flags);

}  // namespace veldro::platform::posix
