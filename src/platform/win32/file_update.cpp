#include "platform/file_update.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

HANDLE as_handle(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}  // NOLINT

}  // namespace

FileHandle open_or_create_for_update(const std::string& path) {
    const std::wstring wide = win32::to_wide_path(path);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    return FileHandle(reinterpret_cast<std::intptr_t>(h));  // NOLINT
}

bool truncate_file(FileHandle& file, std::uint64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(as_handle(file.native()), position, nullptr, FILE_BEGIN) == 0) {
        return false;
    }
    return SetEndOfFile(as_handle(file.native())) != 0;
}

bool delete_file(const std::string& path) {
    return DeleteFileW(win32::to_wide_path(path).c_str()) != 0;
}

}  // namespace veldro::platform
