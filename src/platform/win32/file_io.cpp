#include "platform/file_io.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>

#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

HANDLE as_handle(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}  // NOLINT

std::intptr_t from_handle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle::invalid_value : reinterpret_cast<std::intptr_t>(h);  // NOLINT
}

}  // namespace

std::error_code FileHandle::close() {
    if (!valid()) {
        return {};
    }
    const BOOL ok = CloseHandle(as_handle(native_));
    const std::error_code error = ok != 0 ? std::error_code() : win32::system_error();
    native_ = invalid_value;
    return error;
}

std::error_code open_for_read(const std::string& path, ReadShare share, FileHandle& file) {
    file = FileHandle(from_handle(win32::open_source(
        win32::to_wide_path(path), FILE_FLAG_SEQUENTIAL_SCAN,
        share == ReadShare::deny_writers ? win32::SourceShare::readers_only : win32::SourceShare::anyone)));
    return file.valid() ? std::error_code() : win32::system_error();
}

std::error_code create_for_write(const std::string& path, FileHandle& file) {
    file.close();
    const std::wstring wide = win32::to_wide_path(path);
    const DWORD existing = GetFileAttributesW(wide.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return win32::system_error(ERROR_CANT_ACCESS_FILE);  // never written through a link
    }
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    file = FileHandle(from_handle(h));
    return {};
}

std::error_code read_some(FileHandle& file, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    DWORD read = 0;
    const DWORD want = size > 0x40000000U ? 0x40000000U : static_cast<DWORD>(size);
    if (ReadFile(as_handle(file.native()), buffer, want, &read, nullptr) == 0) {
        return win32::system_error();
    }
    got = read;
    return {};
}

std::error_code write_all(FileHandle& file, const void* buffer, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000U ? 0x40000000U : static_cast<DWORD>(size);
        DWORD wrote = 0;
        if (WriteFile(as_handle(file.native()), p, chunk, &wrote, nullptr) == 0) {
            return win32::system_error();
        }
        if (wrote == 0) {
            return win32::system_error(ERROR_DISK_FULL);
        }
        p += wrote;
        size -= wrote;
    }
    return {};
}

std::optional<std::uint64_t> open_file_size(FileHandle& file) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(as_handle(file.native()), &size) == 0 || size.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<ChangeMarks> change_marks(FileHandle& file) {
    FILE_BASIC_INFO basic{};
    LARGE_INTEGER size{};
    HANDLE h = as_handle(file.native());
    if (GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) == 0 || GetFileSizeEx(h, &size) == 0 ||
        size.QuadPart < 0) {
        return std::nullopt;
    }
    ChangeMarks marks;
    marks.size = static_cast<std::uint64_t>(size.QuadPart);
    marks.written = basic.LastWriteTime.QuadPart;
    marks.changed = basic.ChangeTime.QuadPart;
    return marks;
}

std::optional<DataStretch> next_data_stretch(FileHandle& file, std::uint64_t offset, std::uint64_t limit) {
    if (offset >= limit) {
        return std::nullopt;
    }
    const DataStretch all{offset, limit};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(as_handle(file.native()), &info) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0) {
        return all;
    }
    // A sparse file lists its allocated ranges; the first one that
    // overlaps [offset, limit) is the next stretch of data.
    FILE_ALLOCATED_RANGE_BUFFER query{};
    query.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    query.Length.QuadPart = static_cast<LONGLONG>(limit - offset);
    FILE_ALLOCATED_RANGE_BUFFER range{};
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(as_handle(file.native()), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query,
                                    &range, sizeof range, &returned, nullptr);
    if (ok == 0 && GetLastError() != ERROR_MORE_DATA) {
        return all;
    }
    if (returned < sizeof range) {
        return std::nullopt;
    }
    const auto begin = std::max(offset, static_cast<std::uint64_t>(range.FileOffset.QuadPart));
    const auto end = std::min(limit, static_cast<std::uint64_t>(range.FileOffset.QuadPart + range.Length.QuadPart));
    return begin < end ? DataStretch{begin, end} : all;
}

std::error_code seek_to(FileHandle& file, std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (SetFilePointerEx(as_handle(file.native()), to, nullptr, FILE_BEGIN) == 0) {
        return win32::system_error();
    }
    return {};
}

std::error_code set_file_size(FileHandle& file, std::uint64_t size) {
    if (std::error_code error = seek_to(file, size)) {
        return error;
    }
    if (SetEndOfFile(as_handle(file.native())) == 0) {
        return win32::system_error();
    }
    return {};
}

void allow_holes(FileHandle& file) {
    DWORD returned = 0;
    // Where the file system has no sparse files the skipped stretches are
    // written as zeros by the system: the content is the same.
    (void)DeviceIoControl(as_handle(file.native()), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

void advise_sequential(FileHandle& /*file*/) {}

std::error_code read_from_device(const std::string& path, FileHandle& /*file*/) {
    const std::wstring wide = win32::to_wide_path(path);
    // The flush needs a handle that may write; a read-only copy cannot be
    // opened so, and its cached changes are then written by the unbuffered
    // open below, which the file system makes coherent with the cache.
    HANDLE writer =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        const BOOL flushed = FlushFileBuffers(writer);
        const std::error_code error = flushed != 0 ? std::error_code() : win32::system_error();
        CloseHandle(writer);
        if (error) {
            return error;
        }
    }
    // An unbuffered open writes what is still cached and purges the file's
    // cached pages: the buffered reads that follow are served by the device.
    HANDLE unbuffered =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (unbuffered == INVALID_HANDLE_VALUE) {
        return win32::system_error();
    }
    CloseHandle(unbuffered);
    return {};
}

}  // namespace veldro::platform
