#include <cerrno>
#include <cstring>

#include "platform/system.h"

namespace veldro::platform {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

std::string error_text(const std::error_code& error) {
    return error.message();
}

bool is_not_found(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory;
}

}  // namespace veldro::platform
