#include "driver/version.h"

namespace veldro::driver {

std::string program_version_text() {
    return "22.03.24.09.44";
}

}  // namespace veldro::driver
