#include "platform/file_update.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

HANDLE as_handle(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}  // NOLINT

}  // namespace

std::error_code open_or_create_for_update(const std::string& path, FileHandle& file) {
    const std::wstring wide = win32::to_wide_path(path);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        const std::error_code error = win32::system_error();
        file.close();
        return error;
    }
    file = FileHandle(reinterpret_cast<std::intptr_t>(h));  // NOLINT
    return {};
}

std::error_code truncate_file(FileHandle& file, std::uint64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(as_handle(file.native()), position, nullptr, FILE_BEGIN) == 0 ||
        SetEndOfFile(as_handle(file.native())) == 0) {
        return win32::system_error();
    }
    return {};
}

std::error_code delete_file(const std::string& path) {
    if (DeleteFileW(win32::to_wide_path(path).c_str()) == 0) {
        return win32::system_error();
    }
    return {};
}

}  // namespace veldro::platform
