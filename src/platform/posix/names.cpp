#include "platform/names.h"

#include <dirent.h>

#include <cstring>

#include "platform/fs.h"

namespace veldro::platform {
namespace {

char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool same_name_ignoring_case(const char* entry, const std::string& name) {
    if (std::strlen(entry) != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (ascii_upper(entry[i]) != ascii_upper(name[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool exists_ignoring_case(const std::string& path) {
    if (path_exists(path)) {
        return true;
    }
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return false;
    }
    const std::string directory = slash == 0 ? std::string("/") : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (same_name_ignoring_case(entry->d_name, name)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string list_text_to_utf8(const std::string& text) {
    return text;
}

}  // namespace veldro::platform
