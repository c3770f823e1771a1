#include "walk/sources.h"

#include <algorithm>
#include <cstdio>

#include "driver/pause.h"
#include "driver/terminate.h"
#include "platform/fs.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::walk {

namespace {

bool is_listed_root(const RunSettings& s, const std::string& root) {
    return std::any_of(s.paths.source_paths.begin(), s.paths.source_paths.end(),
                       [&root](const std::string& listed) { return paths::equal_ignoring_case(listed, root); });
}

// A source path that names a file: its directory becomes the root and the
// file's name a type pattern. Gives the directory.
std::string split_file_root(RunSettings& s, const std::string& path) {
    const std::string name(paths::file_name(path));
    std::string directory(paths::parent(path));
    std::fprintf(stdout, "\n%s appears to be a file, not a folder.", util::shown_name(name).c_str());
    std::fputs("\nwill make the following adjustments\n", stdout);
    std::fprintf(stdout, "source directory=%s\n", paths::shown_path(directory).c_str());
    std::fprintf(stdout, "new file added=%s\n", util::shown_name(name).c_str());
    driver::pause_seconds(3);
    add_type_pattern(s, name);
    return directory;
}

}  // namespace

void add_source_path(RunSettings& s, const std::string& path) {
    // Internal form: absolute and normalised, so that a root given with
    // ".." is the directory it names and its copies land where it says.
    std::string root = paths::make_long_path(path);
    if (s.paths.shadow_copy == 0) {
        if (!platform::path_exists(root)) {
            std::fprintf(stdout, "\nCan't find a file or folder of the name %s\n", paths::shown_path(root).c_str());
            std::fputs("Please check the -p option and rerun program\n", stdout);
            terminate_run(INPUT_FILE);
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

void add_type_pattern(RunSettings& s, const std::string& pattern) {
    std::vector<std::string>& types = s.selection.type_list;
    if (std::find(types.begin(), types.end(), pattern) == types.end()) {
        types.push_back(pattern);
    }
}

}  // namespace veldro::walk
