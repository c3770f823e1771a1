// UTF-8 (WTF-8 where a name holds a lone surrogate) <-> UTF-16 at the
// Win32 boundary, and the source and destination handles every file call
// shares.
#pragma once

#include <windows.h>

#include <string>
#include <system_error>

namespace veldro::platform::win32 {

// The reason GetLastError gives for the call that just failed; a general
// failure when it left none. To be read right after the failing call.
inline std::error_code system_error() {
    const DWORD code = GetLastError();
    return {static_cast<int>(code != 0 ? code : ERROR_GEN_FAILURE), std::system_category()};
}

// A reason given by its Windows error code.
inline std::error_code system_error(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

std::wstring to_wide(const std::string& utf8);
std::string from_wide(const std::wstring& wide);
std::string from_wide(const wchar_t* wide, std::size_t length);

// A path as the system's file calls take it (see paths::call_form).
std::wstring to_wide_path(const std::string& path);

// Tells the system not to move the last-access time of the file through
// this handle (it needs FILE_WRITE_ATTRIBUTES; without it nothing happens).
void keep_last_access(HANDLE file);

// Opens an existing source for reading, never through a link: first
// letting other processes only read (as the program always has), then,
// when that is refused, letting writers and deleters go on. Asks for
// FILE_WRITE_ATTRIBUTES too where allowed, so that reading leaves the
// last-access time alone. A reparse point that only presents its data
// (deduplicated, compressed or cloud-held files) is read through its
// filter; a link is refused. `flags` are added to backup semantics.
HANDLE open_source(const std::wstring& path, DWORD flags);

enum class SourceShare : unsigned char { readers_only, anyone };
// The same with one sharing mode only (for callers that retry themselves).
HANDLE open_source(const std::wstring& path, DWORD flags, SourceShare share);

// Opens the link or other reparse point at `path` itself, for its reparse
// data, leaving its last-access time alone where allowed.
HANDLE open_source_link(const std::wstring& path);

}  // namespace veldro::platform::win32
