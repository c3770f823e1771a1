#include "plan/dupes.h"

#include <cstdio>
#include <functional>
#include <memory>

#include "platform/file_system.h"
#include "platform/fs.h"
#include "platform/names.h"
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
// A copy in flight that writes the name decides whether it is free: it
// is done and recorded first.
bool name_in_use(Run& s, const std::string& path) {
    if (s.in_flight != nullptr) {
        s.in_flight->settle_if_taken(path);
    }
    return s.copy.no_case != 0 ? exists_ignoring_case(s, path) : s.file_system->exists(path);
}

// Every name a destination directory holds, for the run's index.
void list_directory(platform::FileSystem& files, const std::string& directory,
                    const std::function<void(std::string_view)>& add) {
    std::unique_ptr<platform::DirectoryListing> listing;
    if (files.list(directory, "*", platform::SearchDetail::kind_only, listing)) {
        return;
    }
    platform::FindRecord entry;
    while (listing->next(entry)) {
        add(entry.name);
    }
}

bool tilde_in_short_name_window(const std::string& long_name) {
    return util::first_chars(long_name, tilde_window).find('~') != std::string_view::npos;
}

// ".D[nnnnn]" from the calendar time: the digits after its first five
// (for the ten-digit times of this era, its last five).
std::string tilde_suffix(platform::FileSystem& files) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(files.now_seconds()));
    const std::string text(digits);
    const std::string tail = text.size() > 5 ? text.substr(5, 5) : std::string();
    return ".D[" + tail + "]";
}

int last_write_second(const platform::FindRecord& entry) {
    return static_cast<int>((entry.times.last_write.ticks / platform::ticks_per_second) % 60);
}

}  // namespace

bool exists_ignoring_case(Run& s, const std::string& path) {
    platform::FileSystem& files = *s.file_system;
    if (files.exists(path)) {
        return true;
    }
    if (paths::native_style == paths::Style::windows) {
        return false;  // every look-up there ignores case already
    }
    const std::string directory(paths::parent(path));
    return s.dupes.names.holds_folded(
        directory, paths::file_name(path),
        [&files](const std::string& dir, const std::function<void(std::string_view)>& add) {
            list_directory(files, dir, add);
        });
}

void note_copy_written(Run& s, const std::string& path, const std::string& source) {
    s.dupes.names.note_written(path, source, paths::parent(path), paths::file_name(path));
}

void rename_if_written_by_run(Run& s, std::string& destination_file_path, const std::string& source,
                              PlanEvents& events) {
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
    // The folder depends on how many copies before this file were made:
    // the copies in flight are waited for only when they could reach the
    // next multiple (every file handed on that is not recorded yet may
    // still become a copy); short of it the folder stays whatever they end in.
    if (s.dupes.copies_planned >= (s.dupes.flat_folder_index + 1) * per_folder) {
        settle_work_in_flight(s);
    }
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

int rename_duplicate(Run& s, std::string& path, PlanEvents& events) {
    // The new name must be free of the names the files before it wrote:
    // each name tried waits for a copy in flight to it (name_in_use).
    events.add(PlanEvent::Kind::renamed).path = path;
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

void rename_duplicates_before_copy(Run& s, std::string& destination_file_path, PlanEvents& events) {
    if (s.copy.flatten != 0 && s.copy.no_dupe != 0 && s.file_system->exists(destination_file_path)) {
        rename_duplicate(s, destination_file_path, events);
    }
    if (s.copy.no_case != 0 && exists_ignoring_case(s, destination_file_path)) {
        rename_duplicate(s, destination_file_path, events);
    }
}

void apply_tilde_rule(Run& s, std::string& destination_file_path, const platform::FindRecord& entry,
                      PlanEvents& events) {
    if (!s.copy.check_tilde || !tilde_in_short_name_window(entry.name)) {
        return;
    }
    platform::FileSystem& files = *s.file_system;
    if (!files.exists(destination_file_path)) {
        return;
    }
    const std::string suffix = tilde_suffix(files);
    const std::string old_path = destination_file_path;
    destination_file_path += suffix;
    const int second = last_write_second(entry);
    char extra[32];
    // A name tried that a copy in flight is writing waits for that copy.
    const auto taken = [&s, &files](const std::string& path) {
        if (s.in_flight != nullptr) {
            s.in_flight->settle_if_taken(path);
        }
        return files.exists(path);
    };
    while (taken(destination_file_path)) {
        std::snprintf(extra, sizeof extra, ".[%02d_%03d]", static_cast<int>(s.dupes.dupe_sequence), second);
        ++s.dupes.dupe_sequence;
        destination_file_path += extra;
    }
    PlanEvent& event = events.add(PlanEvent::Kind::tilde_renamed);
    event.path = old_path;
    event.to = destination_file_path;
}

}  // namespace veldro::plan
