#include "platform/win32/wide.h"

#include <windows.h>

namespace veldro::platform::win32 {

std::wstring to_wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string from_wide(const wchar_t* wide, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string from_wide(const std::wstring& wide) {
    return from_wide(wide.data(), wide.size());
}

}  // namespace veldro::platform::win32
