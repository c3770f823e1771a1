#include "plan/destination.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "plan/dupes.h"
#include "platform/file_system.h"
#include "platform/leftovers.h"
#include "record/file_record.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::plan {

namespace {

bool is_sep(char c) {
    return paths::is_separator(c);
}

// Length of the part of a path that no directory can be created in: the
// long-path prefix with the drive on Windows, nothing on Linux.
std::size_t root_part_length(std::string_view path) {
    return path.size() - paths::below_drive(path).size();
}

// The destination root without a trailing separator (the root directory
// itself keeps its one).
std::string_view root_without_separator(const std::string& root) {
    std::string_view view(root);
    if (view.size() > 1 && is_sep(view.back())) {
        view.remove_suffix(1);
    }
    return view;
}

// Components of a path for -M: the root part (prefix and drive on
// Windows, empty on Linux), then each name.
void split_components(std::string_view path, std::vector<std::string>& parts) {
    parts.clear();
    const std::size_t root = root_part_length(path);
    parts.emplace_back(path.substr(0, root));
    std::size_t i = root;
    while (i < path.size()) {
        while (i < path.size() && is_sep(path[i])) {
            ++i;
        }
        std::size_t j = i;
        while (j < path.size() && !is_sep(path[j])) {
            ++j;
        }
        if (j > i) {
            parts.emplace_back(path.substr(i, j - i));
        }
        i = j;
    }
}

// Makes one directory and says so; a made directory is remembered for
// its dates, which are given once the whole chain stands.
// Only the lengths are kept: every directory made lies on one path, and a
// deep chain must not cost the square of its depth.
std::error_code create_and_report(Run& s, const std::string& dir, std::vector<std::size_t>& made, PlanEvents* events) {
    const std::error_code error = s.file_system->make_directory(dir);
    if (!error) {
        if (events != nullptr) {
            events->add(PlanEvent::Kind::directory_made).path = dir;
        } else {
            record::report_directory_created(s, dir);
        }
        made.push_back(dir.size());
    }
    return error;
}

// How much of `path` the last directory made usable shares with it: the
// directories there were looked at then, so a walk going down a deep tree
// looks at each directory once, not once for every directory below it.
std::size_t shared_length(const std::string& path, const std::string& last) {
    const std::size_t n = std::min(path.size(), last.size());
    return static_cast<std::size_t>(
        std::mismatch(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(n), last.begin()).first - path.begin());
}

// Makes the missing directories of `path` past `verified`. Up to
// `guarded_from` (the destination root and above) they are made as the user
// named them; below it every component must be a real directory.
std::error_code make_components(Run& s, const std::string& path, std::size_t verified, std::size_t guarded_from,
                                std::vector<std::size_t>& made, PlanEvents* events) {
    platform::FileSystem& files = *s.file_system;
    std::string& part = s.engine.destination_scratch.part;
    platform::FindRecord& record = s.engine.destination_scratch.record;
    const std::size_t skip = root_part_length(path);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (!is_sep(path[i]) || i <= skip || i == 0 || i < verified) {
            continue;
        }
        part.assign(path, 0, i);
        // A directory that could not be made fails with the reason its
        // making gave (a read-only file system, no permission), not with
        // the look that follows.
        if (i <= guarded_from) {
            if (files.lookup(part, record)) {
                const std::error_code not_made = create_and_report(s, part, made, events);
                if (not_made && files.lookup(part, record)) {
                    return not_made;
                }
            }
            continue;
        }
        if (files.lookup(part, record)) {
            const std::error_code not_made = create_and_report(s, part, made, events);
            if (const std::error_code error = files.lookup(part, record)) {
                return not_made ? not_made : error;
            }
        }
        if (record.kind != platform::EntryKind::directory) {
            // A link or a file stands where a directory belongs.
            return std::make_error_code(std::errc::not_a_directory);
        }
    }
    return {};
}

// Whether names in the directory `dir` (just made) tell case apart: the
// directory is not found under its own name with the case of its letters
// turned round. Without a letter in its name that cannot be told, and it
// counts as not.
bool names_tell_case(platform::FileSystem& files, const std::string& dir) {
    std::string turned = dir;
    bool letter = false;
    for (std::size_t i = turned.size(); i > 0 && !is_sep(turned[i - 1]); --i) {
        char& c = turned[i - 1];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
            letter = true;
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
            letter = true;
        }
    }
    if (!letter) {
        return false;
    }
    const std::optional<platform::FileIdentity> made = files.identity(dir);
    const std::optional<platform::FileIdentity> other = files.identity(turned);
    return made && (!other || !(*other == *made));
}

// A leftover temporary file found: an event of the file being decided, or
// said at once when none is (the destination made before the walk).
void leftover_found(Run& s, PlanEvents* events, PlanEvent::Kind kind, const std::string& path,
                    const std::error_code& error) {
    if (events != nullptr) {
        PlanEvent& event = events->add(kind);
        event.path = path;
        event.error = error;
        return;
    }
    const record::LeftoverFate fate = kind == PlanEvent::Kind::leftover_kept      ? record::LeftoverFate::kept
                                      : kind == PlanEvent::Kind::leftover_removed ? record::LeftoverFate::removed
                                                                                  : record::LeftoverFate::not_removed;
    record::report_leftover_temporary(s, path, fate, error);
}

// Removes the temporary files that a run of this program, killed before it
// could remove them, left in `dir` when that run has ended, and names every
// one found; those of a run still going stay. Only the program's own names
// and only files are touched, never through a link. Whether the run that
// made one still goes is the system's to say (platform::process_state).
void sweep_leftover_temporaries(Run& s, const std::string& dir, PlanEvents* events) {
    platform::FileSystem& files = *s.file_system;
    std::unique_ptr<platform::DirectoryListing> listing;
    if (files.list(dir, std::string(platform::temporary_name_pattern), platform::SearchDetail::kind_only, listing)) {
        return;  // the copies into it report what cannot be read there
    }
    platform::FindRecord entry;
    while (listing->next(entry)) {
        const std::optional<std::uint64_t> owner = platform::temporary_file_owner(entry.name);
        if (!owner || entry.kind != platform::EntryKind::regular) {
            continue;
        }
        const platform::ProcessState state = platform::process_state(*owner);
        if (state == platform::ProcessState::this_process) {
            continue;
        }
        const std::string path = paths::join(dir, entry.name);
        if (state != platform::ProcessState::gone) {
            leftover_found(s, events, PlanEvent::Kind::leftover_kept, path, {});
            continue;
        }
        const std::error_code error = files.remove(path);
        leftover_found(s, events, error ? PlanEvent::Kind::leftover_not_removed : PlanEvent::Kind::leftover_removed,
                       path, error);
    }
}

// Gives the directory at `path` the saved directory times (-M). One that
// cannot be dated is an event of the file being decided, or said at once
// when none is.
void date_directory(Run& s, const std::string& path, PlanEvents* events) {
    platform::FileSystem& files = *s.file_system;
    bool creation_set = false;
    if (!files.set_times(path, s.engine.saved_dir_times, creation_set)) {
        return;
    }
    platform::FindRecord& record = s.engine.destination_scratch.record;
    const bool found = !files.lookup(path, record);
    if (events == nullptr) {
        record::directory_times_not_set(path, found);
        return;
    }
    PlanEvent& event = events->add(PlanEvent::Kind::directory_not_dated);
    event.path = path;
    event.found = found;
}

// Tells the run's index which directories of `path` this call made. A new
// directory takes from the one it is made in whether its names ignore case,
// so one look tells it for every directory of the chain.
void note_made_directories(Run& s, const std::string& path, const std::vector<std::size_t>& made) {
    if (made.empty()) {
        return;
    }
    std::string& dir = s.engine.destination_scratch.dir;
    bool names_free = false;
    for (auto length = made.rbegin(); length != made.rend() && !names_free; ++length) {
        dir.assign(path, 0, *length);
        names_free = names_tell_case(*s.file_system, dir);
    }
    for (const std::size_t length : made) {
        dir.assign(path, 0, length);
        s.dupes.names.note_made_directory(dir, names_free);
    }
}

}  // namespace

void destination_dir_for(Run& s, const std::string& directory, std::string& out) {
    const std::string_view root = root_without_separator(s.destination_root());
    if (s.copy.flatten != 0) {
        out = flat_destination_dir(s, std::string(root));
        return;
    }
    out.assign(root);
    std::string_view below = directory;
    below.remove_prefix(std::min(s.engine.current_root_length, below.size()));
    while (!below.empty() && is_sep(below.front())) {
        below.remove_prefix(1);
    }
    if (out.empty() || !is_sep(out.back())) {
        out += paths::separator();
    }
    out += below;
    if (!is_sep(out.back())) {
        out += paths::separator();
    }
}

std::error_code build_destination_path(Run& s, const std::string& directory, const std::string& name,
                                       PlanEvents* events) {
    EngineState& e = s.engine;
    destination_dir_for(s, directory, e.destination_dir);
    std::error_code made;
    if (s.copy.list_only == ListOnly::off) {
        made = make_directory_path(s, e.destination_dir, s.paths.maintain_dir_dates, events);
    }
    e.destination_file_path.assign(e.destination_dir);
    e.destination_file_path += name;
    return made;
}

std::error_code make_directory_path(Run& s, const std::string& path, bool date_made_dirs, PlanEvents* events) {
    EngineState& e = s.engine;
    platform::FileSystem& files = *s.file_system;
    if (path == e.last_checked_dir) {
        return {};  // the files of one directory come one after the other
    }
    // What stands in the way when it is not a directory.
    const std::error_code not_directory = std::make_error_code(std::errc::not_a_directory);
    // Below the destination root every component must be a real directory:
    // a link standing there would send the copies elsewhere.
    const std::string_view dest_root =
        root_without_separator(s.paths.dest_named.empty() ? s.paths.dest_path : s.paths.dest_named);
    const bool below_root = !dest_root.empty() && path.size() > dest_root.size() &&
                            path.compare(0, dest_root.size(), dest_root) == 0 &&
                            (is_sep(path[dest_root.size()]) || is_sep(dest_root.back()));
    const std::size_t guarded_from = below_root ? dest_root.size() : path.size();

    DestinationScratch& w = s.engine.destination_scratch;
    std::vector<std::size_t>& made = w.made;
    made.clear();
    std::error_code error =
        make_components(s, path, shared_length(path, e.last_checked_dir), guarded_from, made, events);
    if (!error) {
        std::string& part = w.part;
        platform::FindRecord& record = w.record;
        part.assign(root_without_separator(path));
        // The destination root itself may be a link the user chose.
        const bool guarded = part.size() > guarded_from;
        error = files.lookup(part, record);
        if (!error && record.kind != platform::EntryKind::directory && (guarded || !files.is_directory(part))) {
            error = not_directory;
        }
    }
    if (date_made_dirs && !made.empty()) {
        // A directory that cannot be dated is an event after those made.
        for (const std::size_t length : made) {
            date_directory(s, path.substr(0, length), events);
        }
    }
    // The chain stays held while the files go in, so that nothing can put
    // a link in its place after the look above.
    if (!error && !files.hold_chain(below_root ? std::string(dest_root) : std::string(), path, e.held_chain)) {
        error = not_directory;
    }
    if (!error) {
        note_made_directories(s, path, made);
        // An existing directory is looked at once for what a killed run
        // left in it; one the run made holds nothing of another run.
        const std::string_view dir = root_without_separator(path);
        if (s.dupes.names.first_visit(dir)) {
            sweep_leftover_temporaries(s, std::string(dir), events);
        }
        e.last_checked_dir = path;
        return {};
    }
    e.last_checked_dir.clear();
    return error;
}

bool capture_directory_times(Run& s, const std::string& path) {
    platform::FindRecord& record = s.engine.destination_scratch.record;
    std::string& plain = s.engine.destination_scratch.dir;
    plain.assign(root_without_separator(path));
    if (s.file_system->lookup(plain, record)) {
        return false;
    }
    s.engine.saved_dir_times = record.times;
    return true;
}

void maintain_directory_chain(Run& s, const std::string& source_dir, const std::string& dest_root,
                              const std::string& /*first_root*/) {
    // Directory names are upper-cased only where names ignore case, so that
    // on Linux the chain and the files' own paths meet in one directory.
    const bool upper = s.paths.upper_case_dirs != 0 && paths::native_style == paths::Style::windows;
    DestinationScratch& w = s.engine.destination_scratch;
    std::vector<std::string>& source = w.source;
    std::vector<std::string>& dest = w.dest;
    std::vector<std::string>& source_real = w.source_real;
    split_components(upper ? util::to_upper(source_dir) : source_dir, source);
    split_components(upper ? util::to_upper(dest_root) : dest_root, dest);
    split_components(source_dir, source_real);

    // The destination repeats the source from the first of its names whose
    // run to the end of the destination root equals the source's run of
    // names from its top (as -D and --dirs build it): those directories,
    // and the source's below them, are dated like their sources. A
    // destination that repeats no such run gets its own chain, undated.
    std::size_t aligned = dest.size();
    for (std::size_t i = 1; i < dest.size() && aligned == dest.size(); ++i) {
        const std::size_t run = dest.size() - i;
        if (run >= source.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t k = 0; k < run && same; ++k) {
            same = dest[i + k] == source[1 + k];
        }
        if (same) {
            aligned = i;
        }
    }

    platform::FileSystem& files = *s.file_system;
    const char sep = paths::separator();
    std::string out = dest[0];
    out += sep;
    // A directory already there is what is wanted; one that cannot be made
    // fails the copies into it, which record the reason.
    for (std::size_t i = 1; i < aligned; ++i) {
        out += dest[i];
        static_cast<void>(files.make_directory(out));
        out += sep;
    }
    if (aligned == dest.size()) {
        return;
    }
    // All directories first, then their dates: making a directory inside
    // one would move the date just given to it.
    std::vector<std::string>& made = w.made_paths;
    made.clear();
    for (std::size_t k = 1; k < source.size(); ++k) {
        out += source[k];
        static_cast<void>(files.make_directory(out));
        made.push_back(out);
        out += sep;
    }
    std::string source_path = source_real[0];
    for (std::size_t k = 1; k < source.size(); ++k) {
        source_path += sep;
        source_path += source_real[k];
        if (capture_directory_times(s, source_path)) {
            date_directory(s, made[k - 1], nullptr);
        }
    }
}

}  // namespace veldro::plan
