#include "platform/windows_entries.h"

namespace veldro::platform {

namespace {

char fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Bytes in the UTF-8 sequence that begins at `s`, so that '?' takes one
// character.
std::size_t char_length(std::string_view s, std::size_t at) {
    const auto lead = static_cast<unsigned char>(s[at]);
    std::size_t n = 1;
    if (lead >= 0xF0) {
        n = 4;
    } else if (lead >= 0xE0) {
        n = 3;
    } else if (lead >= 0xC0) {
        n = 2;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (at + i >= s.size() || (static_cast<unsigned char>(s[at + i]) & 0xC0U) != 0x80U) {
            return 1;
        }
    }
    return n;
}

}  // namespace

EntryKind classify_windows_entry(std::uint32_t attributes, std::uint32_t reparse_tag) {
    const bool directory = (attributes & attr_directory) != 0;
    if ((attributes & win_attr_device) != 0) {
        return EntryKind::special;
    }
    if ((attributes & attr_reparse_point) != 0) {
        if (reparse_tag == reparse_tag_symlink || (directory && reparse_tag == reparse_tag_mount_point)) {
            return EntryKind::symlink;
        }
        if (directory || is_name_surrogate(reparse_tag)) {
            return EntryKind::special;
        }
        return EntryKind::regular;
    }
    return directory ? EntryKind::directory : EntryKind::regular;
}

std::uint32_t walk_attributes(std::uint32_t attributes, EntryKind kind) {
    return kind == EntryKind::directory ? attributes : (attributes & ~attr_directory);
}

bool long_name_matches(std::string_view pattern, std::string_view name) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*") {
        return true;
    }
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += char_length(name, n);
        } else if (p < pattern.size() && fold(pattern[p]) == fold(name[n])) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star;
            resume += char_length(name, resume);
            n = resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace veldro::platform
