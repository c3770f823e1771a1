#include <windows.h>

#include <vector>

#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace veldro::platform {

namespace {

// A handle that reads no data: enough for the identity and the final path.
HANDLE open_for_identity(const std::string& path) {
    return CreateFileW(win32::to_wide(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::optional<FileIdentity> file_identity(const std::string& path) {
    HANDLE h = open_for_identity(path);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (ok == 0) {
        return std::nullopt;
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32U) | info.nFileIndexLow};
}

std::string resolved_path(const std::string& path) {
    std::string existing = path;
    std::string rest;
    for (;;) {
        HANDLE h = open_for_identity(existing);
        if (h != INVALID_HANDLE_VALUE) {
            std::vector<wchar_t> buffer(32768);
            const DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            CloseHandle(h);
            if (n == 0 || n >= buffer.size()) {
                return path;
            }
            std::string resolved = win32::from_wide(buffer.data(), n);
            if (!rest.empty() && resolved.back() != '\\') {
                resolved += '\\';
            }
            return resolved + rest;
        }
        const std::size_t slash = existing.find_last_of('\\');
        if (slash == std::string::npos || slash < 7) {
            return path;  // down to the drive: nothing there resolves
        }
        const std::string leaf = existing.substr(slash + 1);
        if (!rest.empty()) {
            rest.insert(0, 1, '\\');
        }
        rest.insert(0, leaf);
        existing = existing.substr(0, slash);
    }
}

}  // namespace veldro::platform
