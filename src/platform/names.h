// Name look-ups that follow the rules of a case-insensitive file system.
#pragma once

#include <string>

namespace veldro::platform {

// True when something stands at the path, or when its directory holds an
// entry whose name equals the path's last component ignoring the case of
// ASCII letters: the clash a case-insensitive destination would suffer.
// On Windows every look-up already ignores case.
bool exists_ignoring_case(const std::string& path);

// A line of a list file (file names, directory names) as the program
// carries text, UTF-8. Lines in UTF-8 pass unchanged; on Windows a line
// that is not valid UTF-8 is read in the system (ANSI) code page, as lists
// written by older tools are. On Linux names are carried as the bytes
// they are.
std::string list_text_to_utf8(const std::string& text);

}  // namespace veldro::platform
