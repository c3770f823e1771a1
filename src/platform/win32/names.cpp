#include "platform/names.h"

#include <windows.h>

#include <string>

#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace veldro::platform {

// Windows file names compare ignoring case, so a plain look-up finds the
// clash already.
bool exists_ignoring_case(const std::string& path) {
    return path_exists(path);
}

std::string list_text_to_utf8(const std::string& text) {
    if (text.empty()) {
        return text;
    }
    const int length = static_cast<int>(text.size());
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0) > 0) {
        return text;
    }
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (wide_length <= 0) {
        return text;
    }
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), wide_length);
    return win32::from_wide(wide);
}

}  // namespace veldro::platform
