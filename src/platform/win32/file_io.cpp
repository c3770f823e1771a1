#include "platform/file_io.h"

#include <windows.h>

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

bool FileHandle::close() {
    if (!valid()) {
        return true;
    }
    const BOOL ok = CloseHandle(as_handle(native_));
    native_ = invalid_value;
    return ok != 0;
}

FileHandle open_for_read(const std::string& path, ReadShare share) {
    return FileHandle(from_handle(win32::open_source(
        win32::to_wide_path(path), FILE_FLAG_SEQUENTIAL_SCAN,
        share == ReadShare::deny_writers ? win32::SourceShare::readers_only : win32::SourceShare::anyone)));
}

FileHandle create_for_write(const std::string& path) {
    const std::wstring wide = win32::to_wide_path(path);
    const DWORD existing = GetFileAttributesW(wide.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return {};  // never written through a link
    }
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return FileHandle(from_handle(h));
}

std::int64_t read_some(FileHandle& file, void* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD want = size > 0x40000000U ? 0x40000000U : static_cast<DWORD>(size);
    if (ReadFile(as_handle(file.native()), buffer, want, &got, nullptr) == 0) {
        return -1;
    }
    return static_cast<std::int64_t>(got);
}

bool write_all(FileHandle& file, const void* buffer, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000U ? 0x40000000U : static_cast<DWORD>(size);
        DWORD wrote = 0;
        if (WriteFile(as_handle(file.native()), p, chunk, &wrote, nullptr) == 0 || wrote == 0) {
            return false;
        }
        p += wrote;
        size -= wrote;
    }
    return true;
}

void advise_sequential(FileHandle& /*file*/) {}

}  // namespace veldro::platform
