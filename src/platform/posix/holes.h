// Where the data of a file with holes lies, for the copies that keep holes.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>

#include "platform/file_io.h"

namespace veldro::platform::posix {

// The next stretch of data in the open file `fd` at or after `offset` and
// before `limit`, as [begin, end). Holes are skipped where the file system
// shows them (SEEK_DATA/SEEK_HOLE); elsewhere everything up to `limit` is
// data. Nothing when only a hole lies between `offset` and `limit`. Moves
// the file position.
struct Stretch {
    std::uint64_t begin;
    std::uint64_t end;
};
std::optional<Stretch> next_data(int fd, std::uint64_t offset, std::uint64_t limit);

// The size, last-write and change time of the open file `fd` (statx).
std::optional<ChangeMarks> change_marks_of(int fd);
// The same marks from what fstat gave.
ChangeMarks change_marks_of(const struct stat& st);

}  // namespace veldro::platform::posix
