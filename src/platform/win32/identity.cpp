#include "platform/identity.h"

#include <windows.h>

#include <array>

#include "platform/win32/wide.h"

namespace veldro::platform {

ExecutionIdentity execution_identity() {
    ExecutionIdentity id;
    id.os_sysname = "Windows";
    // The version the system reports without a compatibility shim.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        // NOLINTNEXTLINE: the documented way to reach RtlGetVersion
        auto get_version =
            reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (get_version != nullptr && get_version(&info) == 0) {
            id.os_release = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
            id.os_version = std::to_string(info.dwBuildNumber);
        }
    }
    std::array<wchar_t, MAX_COMPUTERNAME_LENGTH + 1> host{};
    DWORD host_length = static_cast<DWORD>(host.size());
    if (GetComputerNameW(host.data(), &host_length) != 0) {
        id.host = win32::from_wide(host.data(), host_length);
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            id.arch = "x86_64";
            break;
        case PROCESSOR_ARCHITECTURE_INTEL:
            id.arch = "x86";
            break;
        case PROCESSOR_ARCHITECTURE_ARM64:
            id.arch = "aarch64";
            break;
        default:
            break;
    }
    std::array<wchar_t, 257> user{};
    DWORD user_length = static_cast<DWORD>(user.size());
    if (GetUserNameW(user.data(), &user_length) != 0 && user_length > 0) {
        id.username = win32::from_wide(user.data(), user_length - 1);  // the count includes the NUL
    }
    return id;
}

}  // namespace veldro::platform
