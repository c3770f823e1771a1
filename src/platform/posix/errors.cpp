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

}  // namespace veldro::platform
