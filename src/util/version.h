// The program's version text, derived from its fixed build stamp.
#pragma once

#include <string>

namespace veldro::util {

inline constexpr const char* build_date = "Mar 24 2022";
inline constexpr const char* build_time = "09:44:53";

// "22.03.24.09.44"
std::string program_version_text();

}  // namespace veldro::util
