// Windows: directory search, look-ups, times, attributes and whole-file
// copies for the copy engine, through the Win32 file services. Paths carry
// the long-path prefix, so their length is not limited to 260 characters.
#include <windows.h>
#include <atomic>

#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "platform/thread_owned.h"
#include "platform/win32/wide.h"
#include "platform/windows_entries.h"

namespace veldro::platform {

namespace {

FileTime from_filetime(const FILETIME& ft) {
    return FileTime{(static_cast<std::uint64_t>(ft.dwHighDateTime) << 32U) | ft.dwLowDateTime, 0};
}

FILETIME to_filetime(const FileTime& t) {
    FILETIME ft{};
    ft.dwLowDateTime = static_cast<DWORD>(t.ticks & 0xFFFFFFFFULL);
    ft.dwHighDateTime = static_cast<DWORD>(t.ticks >> 32U);
    return ft;
}

void fill_record(const WIN32_FIND_DATAW& data, FindRecord& record) {
    record.name = win32::from_wide(data.cFileName, wcslen(data.cFileName));
    record.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32U) | data.nFileSizeLow;
    record.times.creation = from_filetime(data.ftCreationTime);
    record.times.last_access = from_filetime(data.ftLastAccessTime);
    record.times.last_write = from_filetime(data.ftLastWriteTime);
    // The reparse tag stands in dwReserved0 when the reparse bit is set.
    const DWORD tag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? data.dwReserved0 : 0;
    record.kind = classify_windows_entry(data.dwFileAttributes, tag);
    record.attributes = walk_attributes(data.dwFileAttributes, record.kind);
}

std::wstring with_backslash(const std::string& dir) {
    std::wstring wide = win32::to_wide_path(dir);
    if (wide.empty() || (wide.back() != L'\\' && wide.back() != L'/')) {
        wide += L'\\';
    }
    return wide;
}

// Upper case in the system's own case mapping, as the file system compares
// names, in UTF-8 for the pattern test.
std::string folded(const std::wstring& text) {
    std::wstring upper = text;
    if (!upper.empty()) {
        CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    }
    return win32::from_wide(upper);
}

// The directory part of a path, with its trailing backslash.
std::string directory_of(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Temporary names beside a destination, unique within the run.
std::string temp_name_in(const std::string& directory) {
    static const unsigned long pid = GetCurrentProcessId();
    static std::atomic<unsigned long> sequence{0};
    char name[64];  // NOLINT(modernize-avoid-c-arrays)
    std::snprintf(name, sizeof name, ".veldro-%lu-%lu.tmp", pid, ++sequence);
    return directory + name;
}

constexpr std::size_t copy_chunk_bytes = 1024U * 1024U;

std::intptr_t as_native(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle::invalid_value : reinterpret_cast<std::intptr_t>(h);  // NOLINT
}

// Removes a temporary file or directory whatever its attributes.
void discard(const std::wstring& path, bool directory) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (directory) {
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

// Copies the contents of one open file into another, handing each piece
// written to the feed when it takes bytes; checks for an interrupt between
// chunks.
CopyResult copy_contents(HANDLE from, HANDLE to, const CopyFeed* feed = nullptr) {
    thread_local ThreadOwned<std::vector<unsigned char>> owned;
    std::vector<unsigned char>& buffer = owned.get();
    if (buffer.empty()) {
        buffer.resize(copy_chunk_bytes);
    }
    for (;;) {
        if (interrupt_requested()) {
            return CopyResult::interrupted;
        }
        DWORD got = 0;
        if (ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) == 0) {
            return CopyResult::failed;
        }
        if (got == 0) {
            return CopyResult::copied;
        }
        DWORD wrote = 0;
        if (WriteFile(to, buffer.data(), got, &wrote, nullptr) == 0 || wrote != got) {
            return CopyResult::failed;
        }
        if (feed != nullptr && feed->take != nullptr) {
            feed->take(feed->context, buffer.data(), got);
        }
    }
}

// Copies every named stream of `source` onto the file `target`.
CopyResult copy_named_streams(const std::string& source, const std::wstring& target) {
    thread_local ThreadOwned<std::vector<StreamRecord>> owned;
    std::vector<StreamRecord>& table = owned.get();
    std::size_t count = 0;
    const StreamListStatus status = list_named_streams(source, table, count);
    if (status == StreamListStatus::unsupported || status == StreamListStatus::open_failed) {
        return CopyResult::copied;  // a file system without streams, or none to be had
    }
    if (status != StreamListStatus::complete) {
        return CopyResult::failed;
    }
    for (std::size_t i = 0; i < count; ++i) {
        FileHandle from;
        if (open_stream_for_read(source, table[i].name, from)) {
            return CopyResult::failed;
        }
        const std::wstring stream = target + L":" + win32::to_wide(table[i].name);
        HANDLE to =
            CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (to == INVALID_HANDLE_VALUE) {
            return CopyResult::failed;
        }
        const CopyResult result = copy_contents(reinterpret_cast<HANDLE>(from.native()), to);  // NOLINT
        if (CloseHandle(to) == 0 || result != CopyResult::copied) {
            return result == CopyResult::copied ? CopyResult::failed : result;
        }
    }
    return CopyResult::copied;
}

// A destination that may not be replaced: a directory, or a read-only file.
bool destination_refuses(const std::wstring& destination) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

}  // namespace

// ---- directory search --------------------------------------------------

struct DirectorySearch::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data{};
    bool pending = false;  // data holds an entry not yet handed out
    std::string pattern;   // upper case; empty for every name
    std::error_code failure;
};

DirectorySearch::DirectorySearch() : state_(nullptr) {}

DirectorySearch::~DirectorySearch() {
    close();
    delete state_;
}

std::error_code DirectorySearch::open(const std::string& dir_path, const std::string& pattern,
                                      SearchDetail /*detail*/) {
    close();
    if (state_ == nullptr) {
        state_ = new State;
    }
    state_->failure.clear();
    // Every long name is listed and the pattern tested here: the system's
    // own matching would also select names by their short (8.3) form.
    const std::wstring search = with_backslash(dir_path) + L"*";
    state_->pattern = pattern == "*" || pattern == "*.*" ? std::string() : folded(win32::to_wide(pattern));
    state_->handle = FindFirstFileExW(search.c_str(), FindExInfoBasic, &state_->data, FindExSearchNameMatch, nullptr,
                                      FIND_FIRST_EX_LARGE_FETCH);
    state_->pending = state_->handle != INVALID_HANDLE_VALUE;
    // A drive root without entries has no "." either: empty, not unreadable.
    if (state_->pending) {
        return {};
    }
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND ? std::error_code() : win32::system_error(code);
}

bool DirectorySearch::next(FindRecord& record) {
    if (state_ == nullptr || state_->handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    for (;;) {
        if (!state_->pending && FindNextFileW(state_->handle, &state_->data) == 0) {
            const DWORD code = GetLastError();
            if (code != ERROR_NO_MORE_FILES) {
                state_->failure = win32::system_error(code);
            }
            return false;
        }
        state_->pending = false;
        const wchar_t* name = state_->data.cFileName;
        if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
            continue;
        }
        if (!state_->pattern.empty() && !long_name_matches(state_->pattern, folded(name))) {
            continue;
        }
        fill_record(state_->data, record);
        return true;
    }
}

std::error_code DirectorySearch::failure() const {
    return state_ != nullptr ? state_->failure : std::error_code();
}

void DirectorySearch::close() {
    if (state_ != nullptr && state_->handle != INVALID_HANDLE_VALUE) {
        FindClose(state_->handle);
        state_->handle = INVALID_HANDLE_VALUE;
        state_->pending = false;
    }
}

// ---- look-ups, times, attributes ---------------------------------------

std::error_code lookup_path(const std::string& path, FindRecord& record) {
    const std::wstring wide = win32::to_wide_path(path);
    WIN32_FIND_DATAW data{};
    HANDLE h = FindFirstFileExW(wide.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (h != INVALID_HANDLE_VALUE) {
        FindClose(h);
        fill_record(data, record);
        return {};
    }
    // A drive root cannot be searched for; its attributes still tell.
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &info) == 0) {
        return win32::system_error();
    }
    WIN32_FIND_DATAW made{};
    made.dwFileAttributes = info.dwFileAttributes;
    made.ftCreationTime = info.ftCreationTime;
    made.ftLastAccessTime = info.ftLastAccessTime;
    made.ftLastWriteTime = info.ftLastWriteTime;
    made.nFileSizeHigh = info.nFileSizeHigh;
    made.nFileSizeLow = info.nFileSizeLow;
    fill_record(made, record);
    record.name = path;
    return {};
}

std::error_code set_times(const std::string& path, const FileTimeSet& times, bool& creation_set) {
    creation_set = false;
    const std::wstring wide = win32::to_wide_path(path);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_READONLY |
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Another reader holds the file: writing the times needs less.
        h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    const FILETIME creation = to_filetime(times.creation);
    const FILETIME access = to_filetime(times.last_access);
    const FILETIME write = to_filetime(times.last_write);
    const BOOL ok = SetFileTime(h, &creation, &access, &write);
    const std::error_code error = ok != 0 ? std::error_code() : win32::system_error();
    CloseHandle(h);
    creation_set = ok != 0;
    return error;
}

std::error_code get_attributes(const std::string& path, std::uint32_t& attributes) {
    const DWORD found = GetFileAttributesW(win32::to_wide_path(path).c_str());
    if (found == INVALID_FILE_ATTRIBUTES) {
        return win32::system_error();
    }
    attributes = found;
    return {};
}

std::error_code set_attributes(const std::string& path, std::uint32_t attributes) {
    if (SetFileAttributesW(win32::to_wide_path(path).c_str(), attributes) == 0) {
        return win32::system_error();
    }
    return {};
}

// ---- copies ------------------------------------------------------------

namespace {

// A read-only file (not a directory) that -O lets the copy replace.
bool replaceable_protected(const std::wstring& to) {
    const DWORD attributes = GetFileAttributesW(to.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Windows refuses to replace a read-only file: with -O its mark is taken
// off first (a hard link elsewhere shares it; the system offers no rename
// that ignores it on every version).
void allow_replacing(const std::wstring& to, bool replace_protected) {
    if (!replace_protected) {
        return;
    }
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(to.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

}  // namespace

// The program's own copy rather than the system's: the system's would read
// the source through a handle of its own and move its last-access time.
std::error_code copy_interrupted_error() {
    return std::make_error_code(std::errc::operation_canceled);
}

// The Windows copy is read after it is made: no partner thread.
struct CopyReadBack::Partner {};
CopyReadBack::CopyReadBack() = default;
CopyReadBack::~CopyReadBack() = default;

std::error_code look_at_open_file(FileHandle& file, std::uint64_t& size, FileTimeSet& times) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.native()), &info) == 0) {  // NOLINT
        return win32::system_error();
    }
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32U) | info.nFileSizeLow;
    times.creation = from_filetime(info.ftCreationTime);
    times.last_access = from_filetime(info.ftLastAccessTime);
    times.last_write = from_filetime(info.ftLastWriteTime);
    return {};
}

std::error_code copy_whole_file(const std::string& source, const std::string& destination, bool replace_protected,
                                CopyFeed* feed) {
    const std::wstring to = win32::to_wide_path(destination);
    HANDLE from = win32::open_source(win32::to_wide_path(source), FILE_FLAG_SEQUENTIAL_SCAN);
    if (from == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    FileHandle watched(reinterpret_cast<std::intptr_t>(from));  // NOLINT
    const std::optional<ChangeMarks> before = feed != nullptr ? change_marks(watched) : std::nullopt;
    watched.release();
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(from, &info) == 0) {
        const std::error_code error = win32::system_error();
        CloseHandle(from);
        return error;
    }
    if (feed != nullptr) {
        feed->opened_known = true;
        feed->opened_size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32U) | info.nFileSizeLow;
        feed->opened_times.creation = from_filetime(info.ftCreationTime);
        feed->opened_times.last_access = from_filetime(info.ftLastAccessTime);
        feed->opened_times.last_write = from_filetime(info.ftLastWriteTime);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (destination_refuses(to) && !(replace_protected && replaceable_protected(to)))) {
        CloseHandle(from);
        return win32::system_error(ERROR_ACCESS_DENIED);
    }
    std::wstring temp;
    HANDLE out = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && out == INVALID_HANDLE_VALUE; ++attempt) {
        temp = win32::to_wide_path(temp_name_in(directory_of(destination)));
        out = CreateFileW(temp.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (out == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (out == INVALID_HANDLE_VALUE) {
        const std::error_code error = win32::system_error();
        CloseHandle(from);
        return error;
    }
    // The first failure's reason, taken right after the failing call.
    std::error_code error;
    CopyResult result = copy_contents(from, out, feed);
    if (result == CopyResult::failed) {
        error = win32::system_error();
    }
    if (feed != nullptr) {
        watched = FileHandle(reinterpret_cast<std::intptr_t>(from));  // NOLINT
        const std::optional<ChangeMarks> after = change_marks(watched);
        watched.release();
        feed->source_changed = !before || !after || !(*before == *after);
    }
    CloseHandle(from);
    if (result == CopyResult::copied) {
        result = copy_named_streams(source, temp);
        if (result == CopyResult::failed) {
            error = win32::system_error();
        }
    }
    // The times travel with the data, so that a complete copy never carries
    // a name without its source's times.
    if (result == CopyResult::copied &&
        SetFileTime(out, &info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime) == 0) {
        error = win32::system_error();
        result = CopyResult::failed;
    }
    if (CloseHandle(out) == 0 && result == CopyResult::copied) {
        error = win32::system_error();
        result = CopyResult::failed;
    }
    constexpr DWORD carried = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = info.dwFileAttributes & carried;
    if (result == CopyResult::copied && attributes != 0 && SetFileAttributesW(temp.c_str(), attributes) == 0) {
        error = win32::system_error();
        result = CopyResult::failed;
    }
    if (result == CopyResult::copied) {
        allow_replacing(to, replace_protected);
    }
    if (result == CopyResult::copied &&
        MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        error = win32::system_error();
        result = CopyResult::failed;
    }
    if (result != CopyResult::copied) {
        // A read-only temporary file cannot be deleted as it is.
        discard(temp, false);
    }
    return result == CopyResult::copied        ? std::error_code()
           : result == CopyResult::interrupted ? copy_interrupted_error()
                                               : error;
}

// A link is recreated from its reparse data, byte for byte, so that its
// target text (relative or absolute) is the source's.
std::error_code copy_symbolic_link(const std::string& source, const std::string& destination) {
    HANDLE from = win32::open_source_link(win32::to_wide_path(source));
    if (from == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = DeviceIoControl(from, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                      static_cast<DWORD>(data.size()), &got, nullptr) != 0 &&
                      GetFileInformationByHandle(from, &info) != 0;
    const std::error_code read_error = read ? std::error_code() : win32::system_error();
    CloseHandle(from);
    DWORD tag = 0;
    if (read && got >= sizeof tag) {
        std::memcpy(&tag, data.data(), sizeof tag);
    }
    if (!read) {
        return read_error;
    }
    if (tag != reparse_tag_symlink && tag != reparse_tag_mount_point) {
        return win32::system_error(ERROR_NOT_SUPPORTED);
    }
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring to = win32::to_wide_path(destination);
    const std::wstring temp = win32::to_wide_path(temp_name_in(directory_of(destination)));
    HANDLE made = INVALID_HANDLE_VALUE;
    if (directory ? CreateDirectoryW(temp.c_str(), nullptr) != 0 : true) {
        made = CreateFileW(temp.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                           directory ? OPEN_EXISTING : CREATE_NEW,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (made == INVALID_HANDLE_VALUE) {
        const std::error_code error = win32::system_error();
        if (directory) {
            RemoveDirectoryW(temp.c_str());
        }
        return error;
    }
    DWORD ignored = 0;
    bool ok = DeviceIoControl(made, FSCTL_SET_REPARSE_POINT, data.data(), got, nullptr, 0, &ignored, nullptr) != 0;
    std::error_code error = ok ? std::error_code() : win32::system_error();
    CloseHandle(made);
    // What stands at the destination is replaced, never written through:
    // an earlier link is removed as a link; a real directory stays.
    const DWORD existing = GetFileAttributesW(to.c_str());
    if (ok && existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if ((existing & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            ok = false;
            error = win32::system_error(ERROR_DIRECTORY);
        } else if (RemoveDirectoryW(to.c_str()) == 0) {
            ok = false;
            error = win32::system_error();
        }
    } else if (ok && existing != INVALID_FILE_ATTRIBUTES && directory) {
        if ((existing & FILE_ATTRIBUTE_READONLY) != 0) {
            ok = false;
            error = win32::system_error(ERROR_ACCESS_DENIED);
        } else if (DeleteFileW(to.c_str()) == 0) {
            ok = false;
            error = win32::system_error();
        }
    }
    if (ok && MoveFileExW(temp.c_str(), to.c_str(), directory ? 0 : MOVEFILE_REPLACE_EXISTING) == 0) {
        ok = false;
        error = win32::system_error();
    }
    if (!ok) {
        discard(temp, directory);
        return error;
    }
    return {};
}

std::error_code open_source_file(const std::string& path, FileHandle& file, bool* access_unprotected) {
    // Backup semantics reach files whose access rules would refuse a plain
    // open, for a process that holds the backup privilege.
    file = FileHandle(as_native(win32::open_source(win32::to_wide_path(path), FILE_FLAG_SEQUENTIAL_SCAN)));
    if (access_unprotected != nullptr) {
        *access_unprotected = false;  // its times are put back through a handle, whoever owns it
    }
    return file.valid() ? std::error_code() : win32::system_error();
}

// Owners are the file system's affair on Windows: a copy is the account's.
std::error_code carry_owner_and_mode(FileHandle& /*from*/, FileHandle& /*to*/, bool /*writable*/, bool& owner_kept) {
    owner_kept = true;
    return {};
}

// Links are recorded by kind only: their reparse data is no text.
std::error_code read_link_target(const std::string& /*path*/, std::string& target) {
    target.clear();
    return std::make_error_code(std::errc::function_not_supported);
}

std::error_code create_temporary_beside(const std::string& destination, std::string& temp_path, FileHandle& file) {
    file.close();
    const std::string directory = directory_of(destination);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = temp_name_in(directory);
        HANDLE h = CreateFileW(win32::to_wide_path(temp_path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, CREATE_NEW, FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file = FileHandle(as_native(h));
            return {};
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            return win32::system_error(code);
        }
    }
    return win32::system_error(ERROR_FILE_EXISTS);
}

std::error_code rename_over(const std::string& from, const std::string& to, bool replace_protected) {
    const std::wstring target = win32::to_wide_path(to);
    allow_replacing(target, replace_protected);
    if (MoveFileExW(win32::to_wide_path(from).c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        return win32::system_error();
    }
    return {};
}

std::error_code remove_file(const std::string& path) {
    if (DeleteFileW(win32::to_wide_path(path).c_str()) == 0) {
        return win32::system_error();
    }
    return {};
}

std::error_code make_directory(const std::string& path) {
    if (CreateDirectoryW(win32::to_wide_path(path).c_str(), nullptr) == 0) {
        return win32::system_error();
    }
    return {};
}

// Local time under the zone rules in force at the instant itself (the
// runtime's conversion, which honours TZ), not today's offset.
FileTime local_file_time(FileTime utc) {
    const auto seconds = static_cast<std::int64_t>(utc.ticks / ticks_per_second) - seconds_1601_to_1970;
    const auto instant = static_cast<__time64_t>(seconds);
    std::tm fields{};
    if (seconds < 0 || _localtime64_s(&fields, &instant) != 0) {
        return utc;
    }
    const __time64_t as_if_utc = _mkgmtime64(&fields);
    if (as_if_utc == -1) {
        return utc;
    }
    const std::int64_t offset = static_cast<std::int64_t>(as_if_utc) - seconds;
    FileTime local = utc;
    local.ticks = static_cast<std::uint64_t>(static_cast<std::int64_t>(utc.ticks) +
                                             offset * static_cast<std::int64_t>(ticks_per_second));
    return local;
}

std::string file_system_root(const std::string& path) {
    std::wstring wide = win32::to_wide_path(path);
    std::vector<wchar_t> root(wide.size() + MAX_PATH + 2);
    if (GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size())) == 0) {
        return path;
    }
    return win32::from_wide(root.data(), wcslen(root.data()));
}

// ---- the destination chain ----------------------------------------------

namespace {

// The directories of one chain, closed when its last holder lets it go.
struct ChainHandles {
    std::vector<HANDLE> handles;

    ChainHandles() = default;
    ChainHandles(const ChainHandles&) = delete;
    ChainHandles& operator=(const ChainHandles&) = delete;
    ChainHandles(ChainHandles&&) = delete;
    ChainHandles& operator=(ChainHandles&&) = delete;
    ~ChainHandles() {
        for (HANDLE h : handles) {
            CloseHandle(h);
        }
    }
};

}  // namespace

bool hold_destination_chain(const std::string& root, const std::string& dir, HeldChain& held) {
    held.reset();
    std::string trimmed = dir;
    while (trimmed.size() > root.size() && (trimmed.back() == '\\' || trimmed.back() == '/')) {
        trimmed.pop_back();
    }
    if (root.empty() || trimmed.size() <= root.size() || trimmed.compare(0, root.size(), root) != 0) {
        return true;
    }
    auto chain = std::make_shared<ChainHandles>();
    std::size_t at = root.size();
    while (at < trimmed.size()) {
        std::size_t end = trimmed.find_first_of("\\/", at + 1);
        if (end == std::string::npos) {
            end = trimmed.size();
        }
        // Opened as what stands there, never through it, and held without
        // delete sharing: while held it can be neither renamed nor removed,
        // so no link can take its place.
        HANDLE h = CreateFileW(win32::to_wide_path(trimmed.substr(0, end)).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        chain->handles.push_back(h);
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(h, &info) == 0 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return false;
        }
        at = end;
    }
    held = std::move(chain);
    return true;
}

void copy_whole_group(GroupedCopy* /*copies*/, std::size_t /*count*/, bool /*replace_protected*/, TakeMany /*take*/,
                      CopyReadBack* /*partner*/) {
    // The system's own copy makes each file here: none goes with a group.
}

}  // namespace veldro::platform
