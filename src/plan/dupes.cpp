#include "plan/dupes.h"

#include <cstdio>
#include <functional>

#include "platform/fs.h"
#include "platform/names.h"
#include "platform/system.h"
#include "record/manifests.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::plan {
namespace {

// Flat counts up to this value never make numbered folders.
constexpr int smallest_folder_count = 5;
// The tilde rule looks this many characters into the long name.
constexpr std::size_t tilde_window = 8;

// An indexed name must be free on the destination as the copy will meet
// it: with --NOCASE a name that differs only in case is taken as well.
bool name_in_use(Run& s, const std::string& path) {
    return s.copy.no_case != 0 ? exists_ignoring_case(s, path) : platform::path_exists(path);
}

// Every name a destination directory holds, for the run's index.
void list_directory(const std::string& directory, const std::function<void(std::string_view)>& add) {
    platform::DirectorySearch search;
    platform::FindRecord entry;
    if (search.open(directory, "*", platform::SearchDetail::kind_only)) {
        return;
    }
    while (search.next(entry)) {
        add(entry.name);
    }
    search.close();
}

bool tilde_in_short_name_window(const std::string& long_name) {
    return util::first_chars(long_name, tilde_window).find('~') != std::string_view::npos;
}

// ".D[nnnnn]" from the calendar time: the digits after its first five
// (for the ten-digit times of this era, its last five).
std::string tilde_suffix() {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(platform::now_seconds()));
    const std::string text(digits);
    const std::string tail = text.size() > 5 ? text.substr(5, 5) : std::string();
    return ".D[" + tail + "]";
}

int last_write_second(const platform::FindRecord& entry) {
    return static_cast<int>((entry.times.last_write.ticks / platform::ticks_per_second) % 60);
}

}  // namespace

bool exists_ignoring_case(Run& s, const std::string& path) {
    if (platform::path_exists(path)) {
        return true;
    }
    if (paths::native_style == paths::Style::windows) {
        return false;  // every look-up there ignores case already
    }
    const std::string directory(paths::parent(path));
    return s.dupes.names.holds_folded(directory, paths::file_name(path), list_directory);
}

void note_copy_written(Run& s, const std::string& path, const std::string& source) {
    s.dupes.names.note_written(path, source, paths::parent(path), paths::file_name(path));
}

void rename_if_written_by_run(Run& s, std::string& destination_file_path, const std::string& source,
                              PlanEvents* events) {
    if (s.dupes.names.written_from_other(destination_file_path, source)) {
        rename_duplicate(s, destination_file_path, events);
    }
}

std::string flat_destination_dir(Run& s, const std::string& dest_root) {
    std::string dir = paths::with_trailing_separator(dest_root);
    const int per_folder = s.copy.flatten;
    if (per_folder <= smallest_folder_count) {
        return dir;
    }
    // One folder step per multiple reached: a file that ends up not copied
    // while the count stands on a multiple must not move the folder on
    // again, or folder numbers would be skipped and left empty.
    // The folder depends on how many copies before this file were made.
    settle_work_in_flight(s);
    const std::int32_t copied = s.dupes.files_copied_so_far;
    if (copied >= per_folder && copied % per_folder == 0 && s.dupes.flat_folder_index < copied / per_folder) {
        ++s.dupes.flat_folder_index;
    }
    if (s.dupes.flat_folder_index > 0) {
        char folder[16];
        std::snprintf(folder, sizeof folder, "%04d", static_cast<int>(s.dupes.flat_folder_index));
        dir = paths::with_trailing_separator(paths::join(dir, folder));
    }
    return dir;
}

int rename_duplicate(Run& s, std::string& path, PlanEvents* events) {
    // The new name must be free of the names the files before it wrote:
    // they are known once those files are recorded, so the files in flight
    // are recorded first.
    settle_work_in_flight(s);
    if (events != nullptr) {
        events->add(PlanEvent::Kind::renamed).path = path;
    } else {
        record::note_renamed(s.files, path);
    }
    const paths::PathParts parts = paths::split(path);
    const std::string stem = parts.drive + parts.directory + parts.name;
    std::string candidate;
    char index_text[24];
    // The next run starts counting at 0 again and an earlier rename may
    // hold an index already: never land on a name that is in use.
    for (;;) {
        std::snprintf(index_text, sizeof index_text, "[%04d]", static_cast<int>(s.dupes.dupe_index));
        candidate = stem + index_text + parts.extension;
        ++s.dupes.dupe_index;
        if (!name_in_use(s, candidate)) {
            break;
        }
    }
    path = candidate;
    record::note_dupe_index(s, s.dupes.dupe_index);
    return 0;
}

void rename_duplicates_before_copy(Run& s, std::string& destination_file_path, PlanEvents* events) {
    if (s.copy.flatten != 0 && s.copy.no_dupe != 0 && platform::path_exists(destination_file_path)) {
        rename_duplicate(s, destination_file_path, events);
    }
    if (s.copy.no_case != 0 && exists_ignoring_case(s, destination_file_path)) {
        rename_duplicate(s, destination_file_path, events);
    }
}

void apply_tilde_rule(Run& s, std::string& destination_file_path, const platform::FindRecord& entry,
                      PlanEvents* events) {
    if (!s.copy.check_tilde || !tilde_in_short_name_window(entry.name)) {
        return;
    }
    if (!platform::path_exists(destination_file_path)) {
        return;
    }
    // The names it tries are looked at on disk, where the copies in flight
    // may still be writing: they are done and recorded first.
    settle_work_in_flight(s);
    const std::string suffix = tilde_suffix();
    const std::string old_path = destination_file_path;
    destination_file_path += suffix;
    const int second = last_write_second(entry);
    char extra[32];
    while (platform::path_exists(destination_file_path)) {
        std::snprintf(extra, sizeof extra, ".[%02d_%03d]", static_cast<int>(s.dupes.dupe_sequence), second);
        ++s.dupes.dupe_sequence;
        destination_file_path += extra;
    }
    if (events != nullptr) {
        PlanEvent& event = events->add(PlanEvent::Kind::tilde_renamed);
        event.path = old_path;
        event.to = destination_file_path;
        return;
    }
    record::note_renamed(s.files, old_path);
    record::report_tilde_rename(s, old_path, destination_file_path);
}

}  // namespace veldro::plan
