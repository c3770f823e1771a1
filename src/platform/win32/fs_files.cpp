// Windows: directory search, look-ups, times, attributes and whole-file
// copies for the copy engine, through the Win32 file services. Paths carry
// the long-path prefix, so their length is not limited to 260 characters.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/win32/wide.h"

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
    record.attributes = data.dwFileAttributes;
    record.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32U) | data.nFileSizeLow;
    record.times.creation = from_filetime(data.ftCreationTime);
    record.times.last_access = from_filetime(data.ftLastAccessTime);
    record.times.last_write = from_filetime(data.ftLastWriteTime);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        // Junctions and directory links are reparse points: never descended.
        record.kind =
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::symlink : EntryKind::directory;
    } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        record.kind = EntryKind::special;
    } else {
        record.kind = EntryKind::regular;
    }
}

std::wstring with_backslash(const std::string& dir) {
    std::wstring wide = win32::to_wide(dir);
    if (wide.empty() || (wide.back() != L'\\' && wide.back() != L'/')) {
        wide += L'\\';
    }
    return wide;
}

// The directory part of a path, with its trailing backslash.
std::string directory_of(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Temporary names beside a destination, unique within the run.
std::string temp_name_in(const std::string& directory) {
    static const unsigned long pid = GetCurrentProcessId();
    static unsigned long sequence = 0;
    char name[64];  // NOLINT(modernize-avoid-c-arrays)
    std::snprintf(name, sizeof name, ".veldro-%lu-%lu.tmp", pid, ++sequence);
    return directory + name;
}

DWORD CALLBACK copy_progress(LARGE_INTEGER /*total*/, LARGE_INTEGER /*done*/, LARGE_INTEGER /*stream_total*/,
                             LARGE_INTEGER /*stream_done*/, DWORD /*stream*/, DWORD /*reason*/, HANDLE /*from*/,
                             HANDLE /*to*/, LPVOID /*data*/) {
    return interrupt_requested() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

}  // namespace

// ---- directory search --------------------------------------------------

struct DirectorySearch::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data{};
    bool pending = false;  // data holds an entry not yet handed out
};

DirectorySearch::DirectorySearch() : state_(nullptr) {}

DirectorySearch::~DirectorySearch() {
    close();
    delete state_;
}

bool DirectorySearch::open(const std::string& dir_path, const std::string& pattern, SearchDetail /*detail*/) {
    close();
    if (state_ == nullptr) {
        state_ = new State;
    }
    const std::wstring search = with_backslash(dir_path) + win32::to_wide(pattern.empty() ? std::string("*") : pattern);
    SetFileApisToANSI();
    state_->handle = FindFirstFileW(search.c_str(), &state_->data);
    state_->pending = state_->handle != INVALID_HANDLE_VALUE;
    return state_->pending;
}

bool DirectorySearch::next(FindRecord& record) {
    if (state_ == nullptr || state_->handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    for (;;) {
        if (!state_->pending && FindNextFileW(state_->handle, &state_->data) == 0) {
            return false;
        }
        state_->pending = false;
        const wchar_t* name = state_->data.cFileName;
        if (name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'))) {
            continue;
        }
        fill_record(state_->data, record);
        return true;
    }
}

void DirectorySearch::close() {
    if (state_ != nullptr && state_->handle != INVALID_HANDLE_VALUE) {
        FindClose(state_->handle);
        state_->handle = INVALID_HANDLE_VALUE;
        state_->pending = false;
    }
}

// ---- look-ups, times, attributes ---------------------------------------

bool lookup_path(const std::string& path, FindRecord& record) {
    const std::wstring wide = win32::to_wide(path);
    WIN32_FIND_DATAW data{};
    HANDLE h = FindFirstFileW(wide.c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        FindClose(h);
        fill_record(data, record);
        return true;
    }
    // A drive root cannot be searched for; its attributes still tell.
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &info) == 0) {
        return false;
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
    return true;
}

bool set_times(const std::string& path, const FileTimeSet& times, bool& creation_set) {
    creation_set = false;
    const std::wstring wide = win32::to_wide(path);
    SetFileApisToOEM();
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_READONLY |
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Another reader holds the file: writing the times needs less.
        h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    SetFileApisToANSI();
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    const FILETIME creation = to_filetime(times.creation);
    const FILETIME access = to_filetime(times.last_access);
    const FILETIME write = to_filetime(times.last_write);
    const BOOL ok = SetFileTime(h, &creation, &access, &write);
    CloseHandle(h);
    creation_set = ok != 0;
    return ok != 0;
}

std::optional<std::uint32_t> get_attributes(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::to_wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return attributes;
}

bool set_attributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesW(win32::to_wide(path).c_str(), attributes) != 0;
}

// ---- copies ------------------------------------------------------------

namespace {

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

CopyResult copy_whole_file(const std::string& source, const std::string& destination, bool replace_protected) {
    const std::wstring from = win32::to_wide(source);
    const std::wstring to = win32::to_wide(destination);
    const std::wstring temp = win32::to_wide(temp_name_in(directory_of(destination)));
    BOOL cancel = FALSE;
    if (CopyFileExW(from.c_str(), temp.c_str(), copy_progress, nullptr, &cancel, COPY_FILE_FAIL_IF_EXISTS) == 0) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return error == ERROR_REQUEST_ABORTED || interrupt_requested() ? CopyResult::interrupted : CopyResult::failed;
    }
    allow_replacing(to, replace_protected);
    if (MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        // A read-only copy of a read-only source cannot be deleted as it is.
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
        return CopyResult::failed;
    }
    return CopyResult::copied;
}

CopyResult copy_symbolic_link(const std::string& /*source*/, const std::string& /*destination*/) {
    return CopyResult::failed;
}

FileHandle open_source_file(const std::string& path) {
    // Backup semantics reach files whose access rules would refuse a plain
    // open, for a process that holds the backup privilege.
    HANDLE h = CreateFileW(win32::to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0x02004007, nullptr);
    return FileHandle(h == INVALID_HANDLE_VALUE ? FileHandle::invalid_value
                                                : reinterpret_cast<std::intptr_t>(h));  // NOLINT
}

FileHandle create_temporary_beside(const std::string& destination, std::string& temp_path) {
    const std::string directory = directory_of(destination);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = temp_name_in(directory);
        HANDLE h = CreateFileW(win32::to_wide(temp_path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, CREATE_NEW, FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            return FileHandle(reinterpret_cast<std::intptr_t>(h));  // NOLINT
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return FileHandle();
}

bool rename_over(const std::string& from, const std::string& to, bool replace_protected) {
    const std::wstring target = win32::to_wide(to);
    allow_replacing(target, replace_protected);
    return MoveFileExW(win32::to_wide(from).c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool remove_file(const std::string& path) {
    return DeleteFileW(win32::to_wide(path).c_str()) != 0;
}

bool make_directory(const std::string& path) {
    return CreateDirectoryW(win32::to_wide(path).c_str(), nullptr) != 0;
}

FileTime local_file_time(FileTime utc) {
    const FILETIME in = to_filetime(utc);
    FILETIME out{};
    if (FileTimeToLocalFileTime(&in, &out) == 0) {
        return utc;
    }
    FileTime local = from_filetime(out);
    local.extra_ns = utc.extra_ns;
    return local;
}

std::string file_system_root(const std::string& path) {
    std::wstring wide = win32::to_wide(path);
    wchar_t root[MAX_PATH + 1] = {};  // NOLINT(modernize-avoid-c-arrays)
    if (GetVolumePathNameW(wide.c_str(), root, MAX_PATH) == 0) {
        return path;
    }
    return win32::from_wide(root, wcslen(root));
}

}  // namespace veldro::platform
