// File-system services in the program's own terms: directory search,
// attributes, the three file times, whole-file copy, directories, free
// space. Paths are UTF-8 strings in internal form (see util/paths.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veldro::platform {

// Attribute bits, with the values the Windows file system gives them.
// On Linux: read-only = no owner write permission, hidden = name begins
// with '.', directory; the others only where the file system reports
// NTFS attributes.
inline constexpr std::uint32_t attr_readonly = 0x1;
inline constexpr std::uint32_t attr_hidden = 0x2;
inline constexpr std::uint32_t attr_system = 0x4;
inline constexpr std::uint32_t attr_directory = 0x10;
inline constexpr std::uint32_t attr_archive = 0x20;
inline constexpr std::uint32_t attr_normal = 0x80;
inline constexpr std::uint32_t attr_reparse_point = 0x400;
inline constexpr std::uint32_t attr_encrypted = 0x4000;

// A file time: 100-nanosecond ticks since 1601-01-01 UTC. `extra_ns`
// keeps the nanoseconds below one tick (0..99) where the file system has
// them, so that a copy can carry its source's times exactly.
struct FileTime {
    std::uint64_t ticks = 0;
    std::uint32_t extra_ns = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// The three times of a file in the order the system sets them.
struct FileTimeSet {
    FileTime creation;
    FileTime last_access;
    FileTime last_write;
};

enum class EntryKind : std::uint8_t {
    regular,
    directory,
    symlink,  // a link (or, on Windows, a reparse point): never followed
    special,  // FIFO, socket, device: never opened by a walk
};

// One directory entry as a search returns it.
struct FindRecord {
    std::uint32_t attributes = 0;
    FileTimeSet times;
    std::uint64_t size = 0;
    std::string name;
    EntryKind kind = EntryKind::regular;
};

// True when something (file, directory, link) stands at the path.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// Creates one directory; true when it was created or already is one.
bool create_directory(const std::string& path);

// The absolute, normalised form of a path as typed (relative paths are
// taken against the working directory).
std::string full_path(const std::string& path);
std::string current_directory();

// The running program's own file path.
std::string program_path();

// Free bytes of the file system holding `path` (all free bytes, not a
// quota); nullopt when they cannot be had.
std::optional<std::uint64_t> free_space(const std::string& path);

// The system's last-access update setting for the file system holding
// `path`: 0 or 0x80000000 = updated, 1 = not updated, -1 = unknown.
// On Linux 0x80000000 stands for relatime.
std::int64_t last_access_setting(const std::string& path);

}  // namespace veldro::platform
