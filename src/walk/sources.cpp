#include "walk/sources.h"

#include <algorithm>
#include "platform/fs.h"
#include "platform/system.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"

namespace veldro::walk {

namespace {

bool is_listed_root(const OptionTarget& s, const std::string& root) {
    return std::any_of(s.paths.source_paths.begin(), s.paths.source_paths.end(),
                       [&root](const std::string& listed) { return paths::equal_ignoring_case(listed, root); });
}

// A source path that names a file: its directory becomes the root and the
// file's name a type pattern. Gives the directory.
std::string split_file_root(OptionTarget& s, const std::string& path) {
    const std::string name(paths::file_name(path));
    std::string directory(paths::parent(path));
    record::report_file_as_root(name, directory);
    platform::pause_seconds(3);
    add_type_pattern(s, name);
    return directory;
}

// `path` is `root` or lies below it (both resolved), compared as the
// file system compares names.
bool is_at_or_below(const std::string& path, const std::string& root) {
    const std::string trimmed(paths::without_trailing_separator(root));
    const bool ignore_case = paths::native_style == paths::Style::windows;
    if (path.size() < trimmed.size()) {
        return false;
    }
    const std::string_view head(path.data(), trimmed.size());
    const bool same_head = ignore_case ? paths::equal_ignoring_case(head, trimmed) : head == trimmed;
    return same_head && (path.size() == trimmed.size() || paths::is_separator(path[trimmed.size()]) ||
                         (!trimmed.empty() && paths::is_separator(trimmed.back())));
}

// True when the directory with identity `id` is `path` or one of its
// existing ancestors; `at_path` tells which.
bool ancestor_has_identity(std::string path, const platform::FileIdentity& id, bool& at_path) {
    at_path = true;
    for (;;) {
        const auto here = platform::file_identity(path);
        if (here && *here == id) {
            return true;
        }
        const std::string up(paths::without_trailing_separator(paths::parent(path)));
        if (up.empty() || up.size() >= path.size()) {
            return false;
        }
        path = up;
        at_path = false;
    }
}

const char* overlap_text(Overlap overlap) {
    switch (overlap) {
        case Overlap::same:
            return "is the source";
        case Overlap::destination_inside:
            return "lies inside the source";
        default:
            return "contains the source";
    }
}

}  // namespace

Overlap overlap_of(const std::string& source_root, const std::string& destination) {
    const std::string source = platform::resolved_path(source_root);
    const std::string dest = platform::resolved_path(destination);
    const bool dest_below = is_at_or_below(dest, source);
    const bool source_below = is_at_or_below(source, dest);
    if (dest_below && source_below) {
        return Overlap::same;
    }
    if (dest_below) {
        return Overlap::destination_inside;
    }
    if (source_below) {
        return Overlap::destination_contains;
    }
    bool at_path = false;
    if (const auto id = platform::file_identity(source); id && ancestor_has_identity(dest, *id, at_path)) {
        return at_path ? Overlap::same : Overlap::destination_inside;
    }
    if (const auto id = platform::file_identity(dest); id && ancestor_has_identity(source, *id, at_path)) {
        return at_path ? Overlap::same : Overlap::destination_contains;
    }
    return Overlap::none;
}

void refuse_overlapping_destination(Run& s) {
    for (const std::string& root : s.paths.source_paths) {
        std::string destination = s.paths.dest_path;
        if (s.paths.dirs_list_mode != 0) {
            destination = paths::join(s.paths.dest_path, paths::without_trailing_separator(paths::below_drive(root)));
        }
        const Overlap overlap = overlap_of(root, destination);
        if (overlap == Overlap::none) {
            continue;
        }
        record::report_overlapping_destination(destination, overlap_text(overlap), root);
        throw util::RunEnd{ILLEGAL_OPTION};
    }
}

bool is_same_file(const std::string& source, const std::string& destination) {
    const auto a = platform::file_identity(source);
    const auto b = platform::file_identity(destination);
    return a && b && *a == *b;
}

void add_source_path(OptionTarget& s, const std::string& path) {
    // Internal form: absolute and normalised, so that a root given with
    // ".." is the directory it names and its copies land where it says.
    std::string root = paths::make_long_path(path);
    if (s.paths.shadow_copy == 0) {
        if (!platform::path_exists(root)) {
            record::report_missing_source(root);
            throw util::RunEnd{INPUT_FILE};
        }
        if (!platform::is_directory(root)) {
            root = split_file_root(s, root);
        }
    }
    root = paths::without_trailing_separator(root);
    if (is_listed_root(s, root)) {
        return;
    }
    s.paths.source_root_lengths.push_back(root.size());
    s.paths.source_paths.push_back(std::move(root));
}

void add_type_pattern(OptionTarget& s, const std::string& pattern) {
    std::vector<std::string>& types = s.selection.type_list;
    if (std::find(types.begin(), types.end(), pattern) == types.end()) {
        types.push_back(pattern);
    }
}

}  // namespace veldro::walk
