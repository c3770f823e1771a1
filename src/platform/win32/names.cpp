#include "platform/names.h"

#include "platform/fs.h"

namespace veldro::platform {

// Windows file names compare ignoring case, so a plain look-up finds the
// clash already.
bool exists_ignoring_case(const std::string& path) {
    return path_exists(path);
}

}  // namespace veldro::platform
