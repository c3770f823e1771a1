#include "walk/bypass.h"

#include "record/run_report.h"

namespace veldro::walk {

namespace {

bool same_text(std::string_view a, std::string_view b, paths::Style style) {
    return style == paths::Style::windows ? paths::equal_ignoring_case(a, b) : a == b;
}

}  // namespace

bool bypass_covers(std::string_view entry, std::string_view directory, paths::Style style) {
    // Both without trailing separators, except a root, which keeps its one.
    while (entry.size() > 1 && paths::is_separator(entry.back(), style)) {
        entry.remove_suffix(1);
    }
    while (directory.size() > 1 && paths::is_separator(directory.back(), style)) {
        directory.remove_suffix(1);
    }
    if (entry.empty() || directory.size() < entry.size()) {
        return false;
    }
    if (!same_text(directory.substr(0, entry.size()), entry, style)) {
        return false;
    }
    // The match must end where a component ends.
    return directory.size() == entry.size() || paths::is_separator(entry.back(), style) ||
           paths::is_separator(directory[entry.size()], style);
}

bool skip_bypassed(Run& s, const std::string& directory) {
    if (s.selection.bypass_mode == 0) {
        return false;
    }
    for (const std::string& entry : s.selection.bypass_list) {
        if (bypass_covers(entry, directory)) {
            if (s.progress.counting_pass == 0) {
                record::report_bypassed_directory(s, directory);
            }
            return true;
        }
    }
    return false;
}

}  // namespace veldro::walk
