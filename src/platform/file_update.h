// Files that are changed in place rather than written anew: logs that are
// appended to, and the abort-marker file. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_io.h"

namespace veldro::platform {

// Opens an existing file for reading and writing, other processes being
// allowed to read it meanwhile; when nothing stands at the path, creates the
// file. Never follows a link. Gives an invalid handle when both fail.
FileHandle open_or_create_for_update(const std::string& path);

// Cuts (or extends) the file to `size` bytes.
bool truncate_file(FileHandle& file, std::uint64_t size);

// Deletes a file (not a directory); false when it could not be deleted.
bool delete_file(const std::string& path);

}  // namespace veldro::platform
