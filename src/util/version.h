// The program's version and build date, as the build configured them.
#pragma once

#include <string>

namespace veldro::util {

// "Mmm dd yyyy" and "hh:mm:ss" (UTC) of the build.
extern const char* const build_date;
extern const char* const build_time;

// The one version of the program ("1.0.0"): the same in --version, the
// banner, the report, the DFXML and the package.
std::string program_version_text();

}  // namespace veldro::util
