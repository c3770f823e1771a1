// File-system services in the program's own terms: directory search,
// attributes, the three file times, whole-file copy, directories, free
// space. Paths are UTF-8 strings in internal form (see util/paths.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/file_io.h"

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

// Ticks in a second, and the distance from the epoch of file times to that
// of calendar time (1970-01-01 UTC), in seconds and in ticks.
inline constexpr std::uint64_t ticks_per_second = 10000000ULL;
inline constexpr std::int64_t seconds_1601_to_1970 = 11644473600LL;
inline constexpr std::uint64_t epoch_offset_ticks = 11644473600ULL * ticks_per_second;

// What the empty times of a zero-dated file become: 1601-12-25 08:00:00
// UTC, 358 days and 8 hours after the epoch of file times.
inline constexpr FileTime zero_date_time{(358ULL * 24ULL + 8ULL) * 3600ULL * ticks_per_second, 0};

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

// What a POSIX file system keeps of a file beyond its times: owner and
// group ids, the mode (type and permission bits, as stat gives it), the
// inode number and the count of links. Not known on Windows.
struct FileOwnership {
    bool known = false;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t mode = 0;
    std::uint64_t inode = 0;
    std::uint64_t nlink = 0;
    // The kind as one letter: r regular, d directory, l link, p FIFO,
    // s socket, c and b devices, - unknown.
    char type = '-';
};

// One directory entry as a search returns it.
struct FindRecord {
    std::uint32_t attributes = 0;
    FileTimeSet times;
    std::uint64_t size = 0;
    std::string name;
    EntryKind kind = EntryKind::regular;
    FileOwnership ownership;
};

// True when something (file, directory, link) stands at the path.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// Creates one directory; no error when it was created or already is one.
std::error_code create_directory(const std::string& path);

// The absolute, normalised form of a path as typed (relative paths are
// taken against the working directory).
std::string full_path(const std::string& path);
std::string current_directory();

// What makes a file or directory itself, whatever path names it: device
// and inode on Linux, volume serial number and file index on Windows.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what `path` names, links followed; nullopt when nothing
// is there.
std::optional<FileIdentity> file_identity(const std::string& path);

// The path with every link on it resolved: the nearest existing ancestor
// resolved and the rest appended as written. The path itself when nothing
// can be resolved.
std::string resolved_path(const std::string& path);

// The running program's own file path.
std::string program_path();

// Free bytes of the file system holding `path` (all free bytes, not a
// quota); nullopt when they cannot be had.
std::optional<std::uint64_t> free_space(const std::string& path);

// Writes every cached change of the file systems holding `paths` to their
// devices (each file system once), so that copies and logs survive a drive
// pulled out right after the run. The first failure's reason; the others
// are still flushed.
[[nodiscard]] std::error_code flush_file_systems(const std::vector<std::string>& paths);

// The system's last-access update setting for the file system holding
// `path`: 0 or 0x80000000 = updated, 1 = not updated, -1 = unknown.
// On Linux 0x80000000 stands for relatime.
std::int64_t last_access_setting(const std::string& path);

// ======================================================================
// Files, times and copies for the copy engine.
//
// Every path may be of any length: on Linux a path longer than the system
// limit is reached through directory descriptors, one piece at a time. A
// link standing at the path itself is never followed.
// ======================================================================

// How much a directory search needs to know about each entry.
enum class SearchDetail : std::uint8_t {
    full,       // kind, attributes, the three times and the size
    kind_only,  // the kind and the directory bit (cheaper where the system allows)
};

// The pattern test of a directory search, the same on every system: true
// when the long name `name` matches `pattern` ('*' any run, '?' one
// character, ASCII letters ignoring case; "", "*" and "*.*" match every
// name). Both are UTF-8.
bool long_name_matches(std::string_view pattern, std::string_view name);

// A search of one directory. Entries come in the system's order, "." and
// ".." left out. On Linux the directory is read without moving its
// last-access time where the system permits it.
class DirectorySearch {
public:
    DirectorySearch();
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // Opens the directory (with or without a trailing separator) for the
    // names that match `pattern`, ignoring case: '*' any run of characters,
    // '?' one character; "*", "*.*" and "" match every name. The system's
    // reason when the directory cannot be read.
    std::error_code open(const std::string& dir_path, const std::string& pattern,
                         SearchDetail detail = SearchDetail::full);
    // The next matching entry; false at the end, or when the listing could
    // not be read on (then `failure` tells why).
    bool next(FindRecord& record);
    // Why the last listing stopped before its end (a read error of the
    // directory); no error after a complete listing.
    [[nodiscard]] std::error_code failure() const;
    void close();

private:
    struct State;
    State* state_;
};

// Looks up the single path without following a link standing at it; the
// record's name is the path's last component. The system's reason (no such
// file, ...) when nothing can be looked up there.
std::error_code lookup_path(const std::string& path, FindRecord& record);

// Sets the last-access and last-write times of the thing at `path` (a link
// itself, not its target) to the nanosecond, and its creation time where
// the file system allows it; `creation_set` tells whether it did. The
// system's reason when the times could not be written.
std::error_code set_times(const std::string& path, const FileTimeSet& times, bool& creation_set);

// The attribute bits of the thing at `path` into `attributes`; the reason
// when nothing can be looked up there.
std::error_code get_attributes(const std::string& path, std::uint32_t& attributes);
// Gives the thing at `path` the attribute bits: read-only (on Linux: no
// write permission; cleared: owner write permission), system and archive
// where the file system keeps them. Hidden and directory bits cannot be
// changed and are ignored.
std::error_code set_attributes(const std::string& path, std::uint32_t attributes);

// The outcome of a whole-file copy as the implementations track it.
enum class CopyResult : std::uint8_t {
    copied,
    failed,       // nothing changed at the destination
    interrupted,  // an interrupt was recorded; nothing changed at the destination
};

// The error a copy gives back when it stopped for a recorded interrupt
// (nothing changed at the destination).
std::error_code copy_interrupted_error();
// Only that exact code: a system failure whose meaning is alike is not an
// interrupt of this program.
inline bool is_copy_interrupted(const std::error_code& error) {
    return error == copy_interrupted_error();
}

// The thread that reads a copy back while the copy is made (see
// CopyFeed::take_copy), for one thread that copies: started by the first
// copy that needs it, kept from copy to copy, ended with this object. Where
// the system has no such reading, it stays unused.
class CopyReadBack {
public:
    CopyReadBack();
    ~CopyReadBack();
    CopyReadBack(const CopyReadBack&) = delete;
    CopyReadBack& operator=(const CopyReadBack&) = delete;
    CopyReadBack(CopyReadBack&&) = delete;
    CopyReadBack& operator=(CopyReadBack&&) = delete;

    struct Partner;
    std::unique_ptr<Partner> partner;
};

// What a copy tells about its source beyond the data: every byte, in file
// order, for digests made from the one read that copies (the zeros of holes
// included), and whether the source changed while it was copied.
struct CopyFeed {
    // Takes each piece of the data as it is written; null when no byte is
    // wanted (the copy may then stay inside the kernel).
    void (*take)(void* context, const unsigned char* data, std::size_t size) = nullptr;
    void* context = nullptr;
    // Set by the copy: the source's size, last-write time or change time
    // differed between the start and the end of the copy.
    bool source_changed = false;
    // Set by the program's own copy: it could not have its copy buffer.
    bool buffer_missing = false;
    // Takes the copy's own bytes, read back from the new file while the copy
    // is made, on the thread of `read_back` (the copy returns only once it is
    // done); null when the copy is to be read after it is made. A copy may
    // leave it unused: copy_read_back then stays false.
    void (*take_copy)(void* context, const unsigned char* data, std::size_t size) = nullptr;
    void* copy_context = nullptr;
    CopyReadBack* read_back = nullptr;
    // Takes a piece of the source and the same piece read back from the copy
    // together, on the copying thread, so that both digests run side by side
    // (see hash::DigestFeed::take_both). With take, take_copy and this set,
    // a large copy may read each piece back as soon as it has written it
    // (and hash the pair on the `read_back` thread, when there is one,
    // while it copies the next), a small one as soon as it has its name;
    // take_copy then goes unused.
    void (*take_both)(void* context, const unsigned char* data, void* copy_context, const unsigned char* copy_data,
                      std::size_t size) = nullptr;
    // Set by the copy: take_copy was given every byte of the finished copy.
    bool copy_read_back = false;
    // The last-access and last-write times the copy is to carry as it takes
    // its name (the source's own when null), and whether it is then to be
    // writable by its owner (the read-only attribute cleared).
    const FileTimeSet* times = nullptr;
    bool writable = false;
    // Set by the copy: it took its name with those times and permissions,
    // and its file system keeps nothing more of them (no creation time, no
    // attribute bits), so that setting them again would change nothing.
    bool settled = false;
    // Set by the copy: the size and times of the source as it was opened,
    // the state the copy was made from (`opened_known`; a creation time of
    // zero where the open file does not tell it).
    bool opened_known = false;
    std::uint64_t opened_size = 0;
    FileTimeSet opened_times;
    // Set by a complete copy: the bytes it read, which is the copy's length.
    // A file is read to its end whatever size it reports, so this differs
    // from opened_size where the file system reports a size that is not
    // the file's length (or the source changed while it was copied).
    // `read_known` where the copy counts them (the system's own copy on
    // Windows does not).
    bool read_known = false;
    std::uint64_t read_size = 0;
    // Set by the copy: the source was read without keeping its last-access
    // time where the system would move it (Linux: O_NOATIME refused, the
    // file is another user's and the process lacks CAP_FOWNER).
    bool access_unprotected = false;
    // Set by a complete copy: it carries its source's owner and group, and
    // so every permission bit (setuid, setgid, sticky); otherwise it is the
    // running account's with the bits that account may set. Always true
    // where the file system keeps no owners (Windows).
    bool owner_kept = true;
};

// The size of every read and write of a buffered copy.
inline constexpr std::size_t copy_buffer_bytes = std::size_t{1} << 20U;
// The one buffer of the buffered copies, taken on the first call and kept
// for the run; null when the memory cannot be had (the next call tries
// again).
unsigned char* copy_buffer();
// A second buffer of the same size and kind, for reading a piece of the
// copy back on the copying thread while copy_buffer() holds the source's.
unsigned char* read_back_buffer();
// Hands `size` zero bytes (a hole) to the feed.
void feed_zeros(const CopyFeed* feed, std::uint64_t size);

// The system's own whole-file copy, replacing an existing destination: the
// data, the named streams (Linux: user extended attributes), the permission
// bits or attributes, and the last-write time. The data goes to a temporary
// name beside the destination and replaces it only when complete; on any
// failure an existing destination stays as it was. A read-only destination
// is not replaced unless `replace_protected` (-O): the new file then takes
// its name without the old file being changed. Checks for a recorded
// interrupt between chunks.
// With a `feed`, the bytes go through it and the source's change is told.
// No error when copied; copy_interrupted_error() when an interrupt stopped
// it; otherwise the system's reason.
std::error_code copy_whole_file(const std::string& source, const std::string& destination,
                                bool replace_protected = false, CopyFeed* feed = nullptr);

// One copy of a group made at once (see copy_whole_group).
struct GroupedCopy {
    const std::string* source = nullptr;
    const std::string* destination = nullptr;
    // As for copy_whole_file; its take_both's contexts (context and
    // copy_context) go to the group's taker.
    CopyFeed* feed = nullptr;
    // Set by the group: whether this copy went with it, and then how it
    // ended (as copy_whole_file tells it).
    bool grouped = false;
    std::error_code error;
};

// Takes pieces of several streams at once: the contexts of the feeds, and
// each one's piece (see hash::DigestFeed::take_many).
using TakeMany = void (*)(void* const* contexts, const unsigned char* const* data, const std::size_t* sizes,
                          std::size_t count);

// The most copies a group makes at once.
inline constexpr std::size_t most_grouped_copies = 8;

// Large copies made together on this thread, as copy_whole_file makes each,
// every piece read back as soon as it is written: the pieces of all their
// sources and read-backs go to `take` at once, so that their digests run
// side by side. A copy the group cannot take (a small file, one with holes,
// one whose copy cannot be made without a name, one that fails before its
// data) is left with `grouped` false and nothing done: the caller makes it
// alone, as before. At most most_grouped_copies.
// With `partner` (the thread of a CopyReadBack, started on first use), the
// pieces of one round are hashed there while the next round is copied.
void copy_whole_group(GroupedCopy* copies, std::size_t count, bool replace_protected, TakeMany take,
                      CopyReadBack* partner = nullptr);

// The program's own copy, for when the system's fails: reads the source
// (opened as open_source_file opens it) in large buffers into a temporary
// file beside the destination, stamps it with the times of the open source
// and renames it over the destination only when every byte was read and
// written. A destination name's characters of code 5 become '+'. No error on
// a complete copy, otherwise the reason (the temporary file is then removed
// and an existing destination left as it was); copy_interrupted_error()
// when an interrupt stopped it. A read-only destination is replaced only
// with `replace_protected`. With a `feed`, the bytes written go through it,
// and the source's state as opened and its change are told.
std::error_code copy_buffered(const std::string& source, const std::string& destination, bool replace_protected = false,
                              CopyFeed* feed = nullptr);

// Recreates the symbolic link at `source` as a link at `destination` with
// the same target text, replacing what stands there (never writing through
// it). On Windows symbolic links and junctions are recreated from their
// reparse data (a symbolic link needs the privilege to create one).
std::error_code copy_symbolic_link(const std::string& source, const std::string& destination);

// From now on, nothing below `root` (the destination directory the user
// named) is reached through a link: every directory on the way from the
// root down is opened without following one, so that a link standing in
// the destination, or put there while the run goes, makes the operation
// fail instead of writing elsewhere. `root` itself is taken as named.
void confine_writes_below(const std::string& root);

// Directories held open by hold_destination_chain: they stay held while
// any copy of it lives, so that every file still being written below them
// keeps them held.
using HeldChain = std::shared_ptr<const void>;

// Holds open the directories of `dir` below `root` (the destination the
// user named), each opened as what stands there and never through it, and
// puts them in `held` in place of what it held; false, with `held` holding
// nothing, when one is missing or is a link, junction or other reparse
// point. While held, a directory of the chain can be neither renamed nor
// removed, so no link can take its place between this check and the writes
// below it. A `dir` outside `root` holds nothing (true). On Linux nothing
// is held and the answer is always true.
bool hold_destination_chain(const std::string& root, const std::string& dir, HeldChain& held);

// Opens an existing regular file for reading: no link is followed, a FIFO
// or device is refused without blocking, access restrictions the process
// is privileged to bypass are bypassed, and on Linux the last-access time
// is left alone where permitted. `file` receives the open file;
// `access_unprotected`, when given, tells whether reading it may move its
// last-access time because the system refused to leave it alone.
std::error_code open_source_file(const std::string& path, FileHandle& file, bool* access_unprotected = nullptr);

// Gives `to`, a copy of the open source `from` not yet published under its
// name, the source's owner, group and permission bits, as `cp -a` does: the
// owner and group first (a change of owner clears setuid and setgid), then
// the bits; where the owner cannot be carried (not run as root), the bits
// the account may set, without setuid, setgid and sticky, and the source's
// group where the account belongs to it. `writable` adds the owner's write
// bit. `owner_kept` tells whether owner and group were carried. Nothing to
// do where the file system keeps no owners (Windows: owner_kept is true).
std::error_code carry_owner_and_mode(FileHandle& from, FileHandle& to, bool writable, bool& owner_kept);

// The target text of the link at `path` into `target`, its last-access time
// put back where the process may; the reason when it cannot be read.
std::error_code read_link_target(const std::string& path, std::string& target);

// Whether the last-access times of sources below `path` are left as found
// by reading them, whoever owns them: the process may open any file without
// moving its last-access time or put it back (root, CAP_FOWNER), or the file
// system holding `path` never moves it (mounted read-only or noatime). An
// empty path: the account alone decides.
bool access_times_kept_for_any_owner(const std::string& path);

// The size and times of an open file (a creation time of zero where the
// system does not tell it); the reason when they cannot be had.
std::error_code look_at_open_file(FileHandle& file, std::uint64_t& size, FileTimeSet& times);

// Creates a new, empty file with a unique temporary name in the directory
// of `destination`; `file` receives it and `temp_path` its path.
std::error_code create_temporary_beside(const std::string& destination, std::string& temp_path, FileHandle& file);

// Renames `from` over `to` (replacing a file or link standing at `to`; a
// read-only file only when `replace_protected`).
std::error_code rename_over(const std::string& from, const std::string& to, bool replace_protected = false);

// Removes a file or link (not a directory).
std::error_code remove_file(const std::string& path);

// Creates one directory whatever the path's length; no error only when this
// call created it.
std::error_code make_directory(const std::string& path);

// The local time of a UTC file time under the zone rules in force at that
// instant (the TZ variable, else the system's zone).
FileTime local_file_time(FileTime utc);

// The path at which the file system that holds `path` (or its nearest
// existing ancestor) is mounted; on Windows the root of its drive.
std::string file_system_root(const std::string& path);

}  // namespace veldro::platform
