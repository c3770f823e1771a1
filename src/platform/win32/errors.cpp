#include <windows.h>

#include "platform/system.h"

namespace veldro::platform {

std::error_code last_error() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

std::string error_text(const std::error_code& error) {
    // The system's message ends with a period and a line end: a reason sits
    // inside a line, so both go.
    std::string text = error.message();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

bool is_not_found(const std::error_code& error) {
    if (error.category() == std::system_category()) {
        return error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND;
    }
    return error == std::errc::no_such_file_or_directory;
}

}  // namespace veldro::platform
