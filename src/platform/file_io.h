// Raw file access: open, read, write, close. Paths are UTF-8 in the
// program's internal form (see path helpers); the Windows implementation
// converts them to UTF-16 at the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace veldro::platform {

// Move-only owner of an open file. The native value is a descriptor on
// Linux and a HANDLE on Windows.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(std::intptr_t native) : native_(native) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : native_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            close();
            native_ = other.release();
        }
        return *this;
    }
    ~FileHandle() { close(); }

    [[nodiscard]] bool valid() const { return native_ != invalid_value; }
    [[nodiscard]] std::intptr_t native() const { return native_; }
    std::intptr_t release() {
        const std::intptr_t value = native_;
        native_ = invalid_value;
        return value;
    }
    // Closes the file; the system's reason when it reported an error (a
    // write that only failed on close must not pass as a success).
    std::error_code close();

    static constexpr std::intptr_t invalid_value = -1;

private:
    std::intptr_t native_ = invalid_value;
};

enum class ReadShare {
    // Other processes may read but not write while the file is open.
    deny_writers,
    // Anything goes: used when a first, stricter open was refused.
    permissive,
};

// Opens an existing file for reading. Links are never followed and, where
// the system allows it, reading does not move the file's last-access time.
// `file` receives the open file.
std::error_code open_for_read(const std::string& path, ReadShare share, FileHandle& file);

// Creates (or truncates) a file for writing. Fails rather than write
// through a symbolic link standing at the path.
std::error_code create_for_write(const std::string& path, FileHandle& file);

// Reads up to `size` bytes; `got` receives the count read, 0 at the end of
// the file. The system's reason on a read error.
std::error_code read_some(FileHandle& file, void* buffer, std::size_t size, std::size_t& got);

// Writes all `size` bytes; the reason on any error or short write.
std::error_code write_all(FileHandle& file, const void* buffer, std::size_t size);

// The size of an open file now; nothing when the system cannot tell.
std::optional<std::uint64_t> open_file_size(FileHandle& file);

// What tells that an open file changed: its size, last-write time and
// change time (in the system's own units, with the nanoseconds apart where
// the system keeps them; only compared with each other).
struct ChangeMarks {
    std::uint64_t size = 0;
    std::int64_t written = 0;
    std::int64_t changed = 0;
    std::uint32_t written_ns = 0;
    std::uint32_t changed_ns = 0;
    bool operator==(const ChangeMarks&) const = default;
};
std::optional<ChangeMarks> change_marks(FileHandle& file);

// The next stretch of data of an open file at or after `offset` and before
// `limit`, as [begin, end): holes are skipped where the system shows them,
// elsewhere all is data. Nothing when only a hole lies before `limit`. The
// file position is left undefined: seek before reading.
struct DataStretch {
    std::uint64_t begin;
    std::uint64_t end;
};
std::optional<DataStretch> next_data_stretch(FileHandle& file, std::uint64_t offset, std::uint64_t limit);

// Moves the position of the next read or write.
std::error_code seek_to(FileHandle& file, std::uint64_t offset);

// Sets the length of a file being written; what it gains is a hole where
// the file system keeps holes.
std::error_code set_file_size(FileHandle& file, std::uint64_t size);

// Lets a file being written keep the holes that skipped stretches leave
// (Windows marks it sparse; Linux file systems keep holes by themselves).
void allow_holes(FileHandle& file);

// Gives the system a hint that the file is read front to back.
void advise_sequential(FileHandle& file);

// Makes the reads of `file`, just opened for reading at `path`, come from
// its device instead of the system's cache: its cached changes are written
// to the device and its cached pages dropped, so that what is read is what
// the device holds. The system's reason when the changes could not be
// written (the device may not hold the file).
std::error_code read_from_device(const std::string& path, FileHandle& file);

}  // namespace veldro::platform
