// UTF-8 <-> UTF-16 at the Win32 boundary.
#pragma once

#include <string>

namespace veldro::platform::win32 {

std::wstring to_wide(const std::string& utf8);
std::string from_wide(const std::wstring& wide);
std::string from_wide(const wchar_t* wide, std::size_t length);

}  // namespace veldro::platform::win32
