// What the engine does to files, behind one interface: looking up and
// listing, copying (the system's whole-file copy, the program's own buffered
// copy, links), reading a copy back, times, attributes and directories. The
// native file system forwards to the platform functions; tests give the
// engine an in-memory one that fails the operations they choose. One call
// per file operation: the bytes of a copy never pass through a virtual call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/file_io.h"
#include "platform/fs.h"

namespace veldro::platform {

// The entries of one directory, in the order the file system gives them,
// "." and ".." left out.
class DirectoryListing {
public:
    DirectoryListing() = default;
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;
    DirectoryListing(DirectoryListing&&) = delete;
    DirectoryListing& operator=(DirectoryListing&&) = delete;
    virtual ~DirectoryListing() = default;
    // The next entry; false at the end.
    [[nodiscard]] virtual bool next(FindRecord& record) = 0;
};

// A file opened to be read back: `step` gives its bytes one piece at a time
// (the count placed in the buffer, 0 at the end, -1 on a read error).
struct ReadBackFile {
    std::int64_t (*step)(void* source, void* buffer, std::size_t size) = nullptr;
    void* source = nullptr;
    // The native file system's open file, read up to the size it had when
    // it was opened, its holes given as zeros without reading them.
    FileHandle handle;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    std::uint64_t data_begin = 0;
    std::uint64_t data_end = 0;
};

class FileSystem {
public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    FileSystem(FileSystem&&) = delete;
    FileSystem& operator=(FileSystem&&) = delete;
    virtual ~FileSystem() = default;

    // ---- looking ---------------------------------------------------------
    // The single path, a link standing at it not followed.
    [[nodiscard]] virtual std::error_code lookup(const std::string& path, FindRecord& record) = 0;
    // The entries of a directory whose names match `pattern` (see
    // DirectorySearch::open); the system's reason when it cannot be read.
    [[nodiscard]] virtual std::error_code list(const std::string& dir, const std::string& pattern, SearchDetail detail,
                                               std::unique_ptr<DirectoryListing>& listing) = 0;
    [[nodiscard]] virtual bool is_directory(const std::string& path) = 0;
    [[nodiscard]] virtual bool exists(const std::string& path) = 0;
    // What makes the file at `path` itself, links followed (see
    // platform::file_identity); nullopt when nothing is there.
    [[nodiscard]] virtual std::optional<FileIdentity> identity(const std::string& path) = 0;

    // ---- copies ----------------------------------------------------------
    // The system's whole-file copy (see platform::copy_whole_file).
    [[nodiscard]] virtual std::error_code copy_whole(const std::string& source, const std::string& destination,
                                                     bool replace_protected, CopyFeed* feed) = 0;
    // Large copies made together (see platform::copy_whole_group); by
    // default none is taken, and each is made alone.
    virtual void copy_whole_group(GroupedCopy* /*copies*/, std::size_t /*count*/, bool /*replace_protected*/,
                                  TakeMany /*take*/, CopyReadBack* /*partner*/) {}
    // The program's own buffered copy: read in large pieces into a
    // temporary file beside the destination, stamped with the times of the
    // open source and renamed over the destination only when complete.
    [[nodiscard]] virtual std::error_code copy_buffered(const std::string& source, const std::string& destination,
                                                        bool replace_protected, CopyFeed* feed) = 0;
    // A link recreated at the destination (see platform::copy_symbolic_link).
    [[nodiscard]] virtual std::error_code copy_link(const std::string& source, const std::string& destination) = 0;
    // Opens a file to be read back: first without admitting other writers,
    // then permissively. `from_device`: its reads come from its device, not
    // the system's cache (see platform::read_from_device).
    [[nodiscard]] virtual std::error_code open_read_back(const std::string& path, ReadBackFile& file,
                                                         bool from_device) = 0;

    // ---- times, attributes, directories -----------------------------------
    [[nodiscard]] virtual std::error_code set_times(const std::string& path, const FileTimeSet& times,
                                                    bool& creation_set) = 0;
    [[nodiscard]] virtual std::error_code get_attributes(const std::string& path, std::uint32_t& attributes) = 0;
    [[nodiscard]] virtual std::error_code set_attributes(const std::string& path, std::uint32_t attributes) = 0;
    // Creates one directory; no error only when this call created it.
    [[nodiscard]] virtual std::error_code make_directory(const std::string& path) = 0;
    // Holds the directories of `dir` below `root` against a link taking
    // their place (see platform::hold_destination_chain); false when one is
    // missing or is not a real directory.
    [[nodiscard]] virtual bool hold_chain(const std::string& root, const std::string& dir, HeldChain& held) = 0;
    // Removes one file, never through a link.
    [[nodiscard]] virtual std::error_code remove(const std::string& path) = 0;

    // ---- the clock ---------------------------------------------------------
    // Calendar seconds, as names made from the time read them.
    [[nodiscard]] virtual std::int64_t now_seconds() = 0;
};

// The file system of the machine the program runs on. It keeps no state:
// one may serve every thread, and making one costs nothing.
class NativeFileSystem final : public FileSystem {
public:
    NativeFileSystem() = default;
    [[nodiscard]] std::error_code lookup(const std::string& path, FindRecord& record) override;
    [[nodiscard]] std::error_code list(const std::string& dir, const std::string& pattern, SearchDetail detail,
                                       std::unique_ptr<DirectoryListing>& listing) override;
    [[nodiscard]] bool is_directory(const std::string& path) override;
    [[nodiscard]] bool exists(const std::string& path) override;
    [[nodiscard]] std::optional<FileIdentity> identity(const std::string& path) override;
    [[nodiscard]] std::error_code copy_whole(const std::string& source, const std::string& destination,
                                             bool replace_protected, CopyFeed* feed) override;
    void copy_whole_group(GroupedCopy* copies, std::size_t count, bool replace_protected, TakeMany take,
                          CopyReadBack* partner) override;
    [[nodiscard]] std::error_code copy_buffered(const std::string& source, const std::string& destination,
                                                bool replace_protected, CopyFeed* feed) override;
    [[nodiscard]] std::error_code copy_link(const std::string& source, const std::string& destination) override;
    [[nodiscard]] std::error_code open_read_back(const std::string& path, ReadBackFile& file,
                                                 bool from_device) override;
    [[nodiscard]] std::error_code set_times(const std::string& path, const FileTimeSet& times,
                                            bool& creation_set) override;
    [[nodiscard]] std::error_code get_attributes(const std::string& path, std::uint32_t& attributes) override;
    [[nodiscard]] std::error_code set_attributes(const std::string& path, std::uint32_t attributes) override;
    [[nodiscard]] std::error_code make_directory(const std::string& path) override;
    [[nodiscard]] bool hold_chain(const std::string& root, const std::string& dir, HeldChain& held) override;
    [[nodiscard]] std::error_code remove(const std::string& path) override;
    [[nodiscard]] std::int64_t now_seconds() override;
};

}  // namespace veldro::platform
