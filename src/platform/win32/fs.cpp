#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"
#include "platform/win32/wide.h"

namespace veldro::platform {

bool path_exists(const std::string& path) {
    return GetFileAttributesW(win32::to_wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::to_wide_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::error_code create_directory(const std::string& path) {
    if (CreateDirectoryW(win32::to_wide_path(path).c_str(), nullptr) != 0) {
        return {};
    }
    const std::error_code error = win32::system_error();
    if (error.value() == ERROR_ALREADY_EXISTS && is_directory(path)) {
        return {};
    }
    return error;
}

std::string full_path(const std::string& path) {
    const std::wstring wide = win32::to_wide(path.empty() ? std::string(".") : path);
    std::vector<wchar_t> buffer(32768);
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0 || n >= buffer.size()) {
        return path;
    }
    return win32::from_wide(buffer.data(), n);
}

std::string current_directory() {
    std::vector<wchar_t> buffer(32768);
    const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) {
        return "C:\\";
    }
    return win32::from_wide(buffer.data(), n);
}

std::string program_path() {
    std::vector<wchar_t> buffer(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) {
        return {};
    }
    return win32::from_wide(buffer.data(), n);
}

namespace {

// The directory form GetDiskFreeSpaceExW asks for, with its trailing
// backslash: "X:\\" for a path on drive X, else the path's own long form.
std::wstring volume_root(const std::string& path) {
    std::string p = path;
    if (p.size() >= 4 && p[0] == '\\' && p[2] == '?') {
        p = p.substr(4);
    }
    if (p.size() >= 2 && p[1] == ':') {
        return win32::to_wide(p.substr(0, 2) + "\\");
    }
    std::wstring wide = win32::to_wide_path(path);
    if (wide.empty() || wide.back() != L'\\') {
        wide += L'\\';
    }
    return wide;
}

}  // namespace

std::optional<std::uint64_t> free_space(const std::string& path) {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER total_free{};
    if (GetDiskFreeSpaceExW(volume_root(path).c_str(), &available, &total, &total_free) == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(total_free.QuadPart);
}

std::error_code flush_file_systems(const std::vector<std::string>& paths) {
    std::error_code first;
    std::vector<std::wstring> flushed;
    for (const std::string& path : paths) {
        std::wstring root = volume_root(path);
        if (root.size() != 3 || root[1] != L':' || std::find(flushed.begin(), flushed.end(), root) != flushed.end()) {
            continue;  // not a drive letter, or flushed already
        }
        flushed.push_back(root);
        // The volume itself: its buffers go to the device in one call. It
        // takes administrator rights.
        const std::wstring volume = L"\\\\.\\" + root.substr(0, 2);
        HANDLE handle = CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            // Without the rights to open a volume (or on a drive that is not
            // a volume of its own) the system writes its cache back on its
            // own: that is no fault of the run's.
            continue;
        }
        // A volume that cannot be flushed this way (wine's, a network
        // share's) is left to the system, as one that cannot be opened.
        if (FlushFileBuffers(handle) == 0 && !first) {
            const DWORD why = GetLastError();
            if (why != ERROR_INVALID_FUNCTION && why != ERROR_NOT_SUPPORTED && why != ERROR_ACCESS_DENIED) {
                first = platform::last_error();
            }
        }
        CloseHandle(handle);
    }
    return first;
}

// Reading a source through backup semantics and putting its times back
// with the handle it was read through needs no ownership.
bool access_times_kept_for_any_owner(const std::string& /*path*/) {
    return true;
}

std::int64_t last_access_setting(const std::string& /*path*/) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return -1;
    }
    std::int64_t result = -1;
    std::vector<wchar_t> name(8192);
    std::vector<BYTE> data(16383);
    for (DWORD index = 0;; ++index) {
        DWORD name_size = 8191;
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, index, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
        if (rc != ERROR_SUCCESS) {
            break;
        }
        if (name_size < 3) {
            break;
        }
        if (std::wstring(name.data(), name_size) == L"NtfsDisableLastAccessUpdate") {
            DWORD value = 0;
            if (data_size >= sizeof(DWORD)) {
                memcpy(&value, data.data(), sizeof(DWORD));
            }
            result = static_cast<std::int64_t>(value);
            break;
        }
    }
    RegCloseKey(key);
    return result;
}

}  // namespace veldro::platform
