#include "util/version.h"

#include "build_stamp.h"

namespace veldro::util {

const char* const build_date = VELDRO_BUILD_DATE;
const char* const build_time = VELDRO_BUILD_TIME;

std::string program_version_text() {
    return VELDRO_VERSION_TEXT;
}

}  // namespace veldro::util
