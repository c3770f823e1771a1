// Name look-ups that follow the rules of a case-insensitive file system.
#pragma once

#include <string>

namespace veldro::platform {

// True when something stands at the path, or when its directory holds an
// entry whose name equals the path's last component ignoring the case of
// ASCII letters: the clash a case-insensitive destination would suffer.
// On Windows every look-up already ignores case.
bool exists_ignoring_case(const std::string& path);

}  // namespace veldro::platform
