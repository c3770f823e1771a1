#include "platform/leftovers.h"

#include <windows.h>

#include <string>

namespace veldro::platform {

namespace {

// The file name of a process's program, upper-cased; empty when it cannot
// be had.
std::wstring program_name_of(HANDLE process) {
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (QueryFullProcessImageNameW(process, 0, path.data(), &size) == 0) {
        return {};
    }
    path.resize(size);
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    if (!name.empty()) {
        CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    }
    return name;
}

}  // namespace

ProcessState process_state(std::uint64_t pid) {
    if (pid == GetCurrentProcessId()) {
        return ProcessState::this_process;
    }
    if (pid > 0xffffffffULL) {
        return ProcessState::gone;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessState::gone : ProcessState::unknown;
    }
    DWORD code = 0;
    ProcessState state = ProcessState::unknown;
    if (GetExitCodeProcess(process, &code) != 0 && code != STILL_ACTIVE) {
        state = ProcessState::gone;
    } else {
        const std::wstring other = program_name_of(process);
        const std::wstring own = program_name_of(GetCurrentProcess());
        if (!other.empty() && !own.empty()) {
            state = other == own ? ProcessState::running : ProcessState::gone;
        }
    }
    CloseHandle(process);
    return state;
}

}  // namespace veldro::platform
