#include "util/paths.h"

#include <vector>

#include "platform/fs.h"
#include "util/text.h"

namespace veldro::paths {

namespace {

char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_drive_letter_path(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// The end of the `count`th backslash-separated component of `text` from
// `from` (the whole text when it has fewer).
std::size_t after_components(std::string_view text, std::size_t from, int count) {
    std::size_t at = from;
    for (int i = 0; i < count; ++i) {
        const std::size_t cut = text.find('\\', at);
        if (cut == std::string_view::npos) {
            return text.size();
        }
        at = i + 1 < count ? cut + 1 : cut;
    }
    return at;
}

// Length of the part of a Windows path that '..' cannot climb above:
// "\\?\C:", "C:", "\\server\share" (with or without the prefix, which
// then reads "\\?\UNC\server\share"), and the device forms of the
// prefix: "\\?\GLOBALROOT\Device\Name" and "\\?\Volume{...}".
std::size_t windows_root_length(std::string_view p) {
    std::size_t start = 0;
    if (has_long_prefix(p)) {
        start = long_prefix.size();
    }
    std::string_view rest = p.substr(start);
    if (is_drive_letter_path(rest)) {
        return start + 2;
    }
    if (start != 0 && !rest.empty()) {
        if (starts_with_ignoring_case(rest, "UNC\\")) {
            return start + after_components(rest, 0, 3);
        }
        if (starts_with_ignoring_case(rest, "GLOBALROOT\\")) {
            return start + after_components(rest, 0, 3);
        }
        return start + after_components(rest, 0, 1);
    }
    if (start == 0 && rest.size() >= 2 && rest[0] == '\\' && rest[1] == '\\') {
        // UNC: \\server\share
        std::size_t server_end = rest.find('\\', 2);
        if (server_end == std::string_view::npos) {
            return rest.size();
        }
        std::size_t share_end = rest.find('\\', server_end + 1);
        return share_end == std::string_view::npos ? rest.size() : share_end;
    }
    return start;
}

}  // namespace

bool is_separator(char c, Style style) {
    return c == '/' || (style == Style::windows && c == '\\');
}

bool has_long_prefix(std::string_view path) {
    return path.size() >= 3 && path[0] == '\\' && path[2] == '?';
}

std::string add_long_prefix(std::string_view path, Style style) {
    if (style == Style::posix || path.empty() || path[0] == '\\' || (path.size() >= 3 && path[2] == '?')) {
        return std::string(path);
    }
    std::string out(long_prefix);
    out += path;
    return out;
}

namespace {

// True when the path has no '/' and no "." or ".." component.
bool plainly_separated(std::string_view path) {
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('\\', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(begin, end - begin);
        if (part == "." || part == ".." || part.find('/') != std::string_view::npos) {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

}  // namespace

std::string call_form(std::string_view path) {
    if (has_long_prefix(path)) {
        std::string out(path);
        if (out.size() == long_prefix.size() + 2 && is_drive_letter_path(path.substr(long_prefix.size()))) {
            out += '\\';
        }
        return out;
    }
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '.' && plainly_separated(path.substr(2))) {
        std::string out(long_prefix);
        out += "UNC";
        out += path.substr(1);
        return out;
    }
    if (path.size() > 3 && is_drive_letter_path(path) && path[2] == '\\' && plainly_separated(path.substr(3))) {
        std::string out(long_prefix);
        out += path;
        return out;
    }
    return std::string(path);
}

std::string_view display_path(std::string_view path) {
    return has_long_prefix(path) ? path.substr(long_prefix.size()) : path;
}

std::string shown_path(std::string_view path) {
    return util::shown_name(display_path(path));
}

std::string normalize(std::string_view absolute, Style style) {
    const char sep = separator(style);
    std::size_t root_len = 0;
    std::string root;
    if (style == Style::windows) {
        root_len = windows_root_length(absolute);
        root = std::string(absolute.substr(0, root_len));
        for (char& c : root) {
            if (c == '/') {
                c = '\\';
            }
        }
    } else if (!absolute.empty() && absolute[0] == '/') {
        root_len = 1;
        root = "";
    }

    std::vector<std::string_view> parts;
    std::string_view rest = absolute.substr(root_len);
    std::size_t i = 0;
    while (i <= rest.size()) {
        std::size_t j = i;
        while (j < rest.size() && !is_separator(rest[j], style)) {
            ++j;
        }
        std::string_view part = rest.substr(i, j - i);
        if (part.empty() || part == ".") {
            // nothing
        } else if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else {
            parts.push_back(part);
        }
        i = j + 1;
    }

    std::string out = root;
    if (parts.empty()) {
        out += sep;
        return out;
    }
    for (std::string_view part : parts) {
        out += sep;
        out += part;
    }
    return out;
}

std::string make_long_path(std::string_view input) {
    if (native_style == Style::windows && has_long_prefix(input)) {
        // The prefixed forms name drives, shares and devices alike: the
        // device part stays as it was typed.
        return normalize(input, Style::windows);
    }
    const std::string absolute = platform::full_path(std::string(input));
    return add_long_prefix(normalize(absolute), native_style);
}

std::string join(std::string_view dir, std::string_view name, Style style) {
    std::string out(dir);
    while (!name.empty() && is_separator(name.front(), style)) {
        name.remove_prefix(1);
    }
    if (out.empty()) {
        out = name;
        return out;
    }
    if (!is_separator(out.back(), style)) {
        out += separator(style);
    }
    out += name;
    return out;
}

std::string with_trailing_separator(std::string_view path, Style style) {
    std::string out(path);
    if (out.empty() || !is_separator(out.back(), style)) {
        out += separator(style);
    }
    return out;
}

std::string without_trailing_separator(std::string_view path, Style style) {
    std::string out(path);
    if (out.size() > 1 && is_separator(out.back(), style)) {
        out.pop_back();
    }
    return out;
}

PathParts split(std::string_view path, Style style) {
    PathParts parts;
    std::size_t pos = 0;
    if (style == Style::windows) {
        std::size_t start = has_long_prefix(path) ? long_prefix.size() : 0;
        if (is_drive_letter_path(path.substr(start))) {
            pos = start + 2;
            parts.drive = std::string(path.substr(0, pos));
        }
    }
    std::string_view rest = path.substr(pos);
    std::size_t last_sep = std::string_view::npos;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (is_separator(rest[i], style)) {
            last_sep = i;
        }
    }
    std::string_view file = rest;
    if (last_sep != std::string_view::npos) {
        parts.directory = std::string(rest.substr(0, last_sep + 1));
        file = rest.substr(last_sep + 1);
    }
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        parts.name = std::string(file);
    } else {
        parts.name = std::string(file.substr(0, dot));
        parts.extension = std::string(file.substr(dot));
    }
    return parts;
}

std::string_view file_name(std::string_view path, Style style) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1], style) || (style == Style::windows && path[i - 1] == ':')) {
            return path.substr(i);
        }
    }
    return path;
}

std::string_view parent(std::string_view path, Style style) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1], style)) {
            std::size_t end = i - 1;
            if (end == 0) {
                return path.substr(0, 1);  // the root itself
            }
            return path.substr(0, end);
        }
    }
    return {};
}

std::string_view below_drive(std::string_view path, Style style) {
    if (style == Style::posix) {
        return path;
    }
    return path.substr(windows_root_length(path));
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i])) {
            return false;
        }
    }
    return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace veldro::paths
