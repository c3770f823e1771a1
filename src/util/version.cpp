#include "util/version.h"

#include "util/dates.h"

namespace veldro::util {

std::string program_version_text() {
    return version_text(build_date, build_time);
}

}  // namespace veldro::util
