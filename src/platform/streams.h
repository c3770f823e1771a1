// Named streams of a file: listing them, reading and writing one, and the
// privileges that let a listing read files the user could not otherwise
// read.
//
// On Windows the named streams are NTFS alternate data streams, listed
// through the backup interface and opened as "file:stream" paths. On Linux
// they are the file's user extended attributes (the way ntfs-3g shows the
// alternate data streams of an NTFS volume); the "user." prefix is not part
// of a stream's name. A stream is always addressed as (file, name): on
// Linux a colon is an ordinary character of a file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_io.h"

namespace veldro::platform {

// One named stream of a file.
struct StreamRecord {
    // The stream's own name (UTF-8): on Windows without the leading colon
    // and the ":$DATA" type that the backup interface adds.
    std::string name;
    std::int64_t size = 0;
    std::uint32_t attributes = 0;
};

enum class StreamListStatus : std::uint8_t {
    // Every named stream of the file was listed.
    complete,
    // The file could not be opened: no stream is listed.
    open_failed,
    // The system refuses to list streams of this file at all (no backup
    // interface, a file system without streams or extended attributes).
    unsupported,
    // Reading a stream header failed part-way: the streams before it are
    // listed.
    header_read_failed,
    // Reading a stream's name failed: the streams before it are listed.
    name_read_failed,
};

// Lists the named streams of the file at `path` into `table` from entry 0,
// reusing the entries it already has and growing it where the file has
// more streams; `count` receives the number of entries filled.
StreamListStatus list_named_streams(const std::string& path, std::vector<StreamRecord>& table, std::size_t& count);

// True when a look that opens nothing shows that the file at `path` has no
// named streams; false when it has some or the look cannot tell (then
// list_named_streams tells). Unlike the listing, it succeeds for a file
// that cannot be opened.
bool has_no_named_streams(const std::string& path);

enum class PrivilegeStatus : std::uint8_t {
    enabled,   // enabled
    not_held,  // the account does not hold them: it goes on without
    token_open_failed,
    backup_lookup_failed,
    restore_lookup_failed,
};

// Enables the backup and restore privileges of the process. On Linux there
// is nothing to enable: root's capabilities play this part.
PrivilegeStatus enable_backup_privileges();

// Opens the named stream `name` of `file` for reading with read_some.
// Reading it leaves the file's last-access time alone where the system
// allows. `stream` receives it; the reason when the file or the stream
// cannot be opened.
std::error_code open_stream_for_read(const std::string& file, const std::string& name, FileHandle& stream);

// Writes `size` bytes as the whole contents of the named stream `name` of
// `file`, creating or replacing the stream.
std::error_code write_stream(const std::string& file, const std::string& name, const void* data, std::size_t size);

// The system's own copy of a named stream to an ordinary file, replacing an
// existing one. An error where it failed or where none is used (Linux, and
// Windows, whose own copy would move the source's last-access time: there
// "not supported"): the caller then copies the stream itself.
std::error_code system_copy_stream(const std::string& file, const std::string& name, const std::string& target);

}  // namespace veldro::platform
