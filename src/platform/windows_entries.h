// Decisions the Windows directory code takes about what it finds, kept
// apart from the system calls so that they can be checked on any system:
// what kind of entry a search record with a given reparse tag stands for,
// and (in fs.h) which long names a search pattern selects.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/fs.h"

namespace veldro::platform {

inline constexpr std::uint32_t win_attr_device = 0x40;
inline constexpr std::uint32_t reparse_tag_mount_point = 0xA0000003;  // junctions and volume mount points
inline constexpr std::uint32_t reparse_tag_symlink = 0xA000000C;

// A tag whose reparse point stands for another name (links, junctions, the
// links of other subsystems) rather than for data a file-system filter
// presents in place (deduplicated, compressed or cloud-held files).
constexpr bool is_name_surrogate(std::uint32_t tag) {
    return (tag & 0x20000000U) != 0;
}

// The kind of the entry a directory search found, from its attributes and,
// for a reparse point, its tag. Symbolic links and junctions are links (to
// be recreated, never followed); a file whose reparse point only presents
// its data is a regular file; any other reparse point, and a device, is
// passed over with its reason recorded.
EntryKind classify_windows_entry(std::uint32_t attributes, std::uint32_t reparse_tag);

// The attribute bits a record of that kind carries: a link or other
// reparse point standing for a directory is no directory to the walk.
std::uint32_t walk_attributes(std::uint32_t attributes, EntryKind kind);

}  // namespace veldro::platform
