// Files that are changed in place rather than written anew: logs that are
// appended to, and the abort-marker file. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "platform/file_io.h"

namespace veldro::platform {

// Opens an existing file for reading and writing, other processes being
// allowed to read it meanwhile; when nothing stands at the path, creates the
// file. Never follows a link. `file` receives it; the system's reason when
// both fail.
std::error_code open_or_create_for_update(const std::string& path, FileHandle& file);

// Cuts (or extends) the file to `size` bytes.
std::error_code truncate_file(FileHandle& file, std::uint64_t size);

// Deletes a file (not a directory); the reason when it could not be deleted.
std::error_code delete_file(const std::string& path);

}  // namespace veldro::platform
