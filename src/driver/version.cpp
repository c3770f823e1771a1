#include "driver/version.h"

#include "util/dates.h"

namespace veldro::driver {

std::string program_version_text() {
    return util::version_text(build_date, build_time);
}

}  // namespace veldro::driver
