#include "walk/walk.h"

#include <system_error>
#include <vector>

#include "plan/destination.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "record/run_report.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "util/text.h"
#include "walk/bypass.h"
#include "work/directory_times.h"

namespace veldro::walk {

namespace {

// Ctrl-C (recorded by the interrupt handler, or read as code 3) or Escape
// at the console ends the run. The interrupt flag is looked at for every
// entry; the console, which costs a few system calls a look, once per
// directory and every 32 entries, and never without a terminal.
void poll_user_abort(EngineState& e, bool new_directory = false) {
    check_interrupt();
    if (!new_directory && ++e.entries_walked % 32 != 0) {
        return;
    }
    if (take_abort_key()) {
        throw util::RunEnd{USER_ABORTED};
    }
}

bool ends_type_list(const std::string& pattern) {
    return pattern.empty() || pattern[0] == '-';
}

void count_file(Run& s, const platform::FindRecord& record) {
    ProgressState& p = s.progress;
    ++p.files_to_process;
    record::report_counting_progress(p.files_to_process);
    p.bytes_to_process += static_cast<std::int64_t>(record.size);
}

// -M, after a directory is done: its source gets back the times it had when
// the walk came to it (written only when they moved, so that an untouched
// directory is not touched by the writing either), and its copy gets them
// too, now that every copy into it is made.
void put_back_directory_times(Run& s, const std::string& dir_path, const platform::FileTimeSet& own) {
    const std::string plain = paths::without_trailing_separator(dir_path);
    platform::FindRecord now;
    if (platform::lookup_path(plain, now) || !(now.times.last_access == own.last_access) ||
        !(now.times.last_write == own.last_write)) {
        work::set_directory_times(plain, own);
    }
    if (s.copy.flatten != 0 || s.copy.list_only != ListOnly::off) {
        return;
    }
    std::string dest_dir;
    plan::destination_dir_for(s, dir_path, dest_dir);
    dest_dir = paths::without_trailing_separator(dest_dir);
    platform::FindRecord dest;
    if (!platform::lookup_path(dest_dir, dest) && dest.kind == platform::EntryKind::directory) {
        work::set_directory_times(dest_dir, own);
    }
}

// What the walk reuses from directory to directory: its searches and the
// records they fill in.
struct WalkScratch {
    platform::DirectorySearch search;
    platform::FindRecord record;
};

// A directory that could not be opened or read on: its files and, when
// its listing failed, its subdirectories are not copied. The copy pass says
// so, once for the directory, and the run does not end as a success.
void directory_not_read(Run& s, const std::string& dir_path, const std::error_code& error, bool& reported) {
    if (s.progress.counting_pass != 0 || reported) {
        return;
    }
    reported = true;
    record::report_unreadable_directory(s, dir_path, error);
}

void process_directory_files(Run& s, WalkScratch& w, const std::string& dir_path,
                             const platform::FileTimeSet* own_times, bool& reported) {
    const bool counting = s.progress.counting_pass != 0;
    if (s.paths.maintain_dir_dates != 0 && !counting) {
        // -M dates the directory's chain now, and says at once a date it
        // cannot put: the copies in flight are recorded first.
        settle_work_in_flight(s);
        const std::string first_root = s.paths.source_paths.empty() ? std::string() : s.paths.source_paths.front();
        plan::maintain_directory_chain(s, dir_path, s.destination_root(), first_root);
        if (own_times != nullptr) {
            // Directories made for this directory's files take its dates.
            s.engine.saved_dir_times = *own_times;
        }
    }
    platform::DirectorySearch& search = w.search;
    platform::FindRecord& record = w.record;
    for (const std::string& pattern : s.selection.type_list) {
        if (ends_type_list(pattern)) {
            break;
        }
        // Renamed, removed or refused since its subdirectories were listed,
        // or out of descriptors: its files cannot be reached.
        if (const std::error_code error = search.open(dir_path, pattern, platform::SearchDetail::full)) {
            directory_not_read(s, dir_path, error, reported);
            break;
        }
        while (search.next(record)) {
            poll_user_abort(s.engine);
            if ((record.attributes & platform::attr_directory) != 0) {
                continue;
            }
            if (counting && s.paths.dest_given != 0) {
                count_file(s, record);
                continue;
            }
            if (s.selection.exclude_mode != 0 && is_excluded(s, record.name)) {
                continue;
            }
            s.walk_flow->handle(dir_path, record.name, record);
        }
        const std::error_code failure = search.failure();
        search.close();
        if (failure) {
            directory_not_read(s, dir_path, failure, reported);
            break;
        }
    }
    if (!counting) {
        // The directory whose files were recorded last gets its line in the
        // dir-count log, once.
        record::report_directory_count(s);
    }
}

// One directory of the walk: its place in the shared path, the
// subdirectories still to walk, and (-M) the times it had when the walk came
// to it.
struct WalkFrame {
    std::size_t path_length = 0;
    std::vector<std::string> children;
    std::size_t next_child = 0;
    platform::FileTimeSet own_times;
    bool have_own_times = false;
    bool reported = false;  // said to be not read (wholly or in part)
};

// Comes to the directory `dir_path`: lists its subdirectories and pushes
// its frame. False when the directory is passed over (bypassed or not
// readable).
bool enter_directory(Run& s, WalkScratch& w, const std::string& dir_path, std::vector<WalkFrame>& stack) {
    if (skip_bypassed(s, dir_path)) {
        return false;
    }
    poll_user_abort(s.engine, true);
    WalkFrame frame;
    frame.path_length = dir_path.size();

    // -M: the directory's own times, read before anything reads the
    // directory, so that they can be written back onto this same directory.
    if (s.paths.maintain_dir_dates != 0) {
        platform::FindRecord self;
        frame.have_own_times = !platform::lookup_path(paths::without_trailing_separator(dir_path), self);
        frame.own_times = self.times;
    }

    // The subdirectories are listed first and walked after the listing is
    // closed, so that a deep tree never holds one open directory per level.
    platform::DirectorySearch& search = w.search;
    platform::FindRecord& entry = w.record;
    if (const std::error_code error = search.open(dir_path, "*", platform::SearchDetail::kind_only)) {
        // Nothing below it can be copied: the copy pass says so wherever
        // a missing file is told, and the run does not end as a success.
        if (s.progress.counting_pass == 0) {
            record::report_unreadable_directory(s, dir_path, error);
        }
        return false;  // its own files are not handled either
    }
    while (s.selection.recurse != 0 && search.next(entry)) {
        // Links and junctions are never descended, so no loop can trap
        // the walk. (Files are polled for when they are handled.)
        if (entry.kind == platform::EntryKind::directory) {
            poll_user_abort(s.engine);
            frame.children.push_back(entry.name);
        }
    }
    const std::error_code failure = search.failure();
    search.close();
    if (failure) {
        // The subdirectories listed before the failure are still walked.
        directory_not_read(s, dir_path, failure, frame.reported);
    }
    stack.push_back(std::move(frame));
    return true;
}

// Leaves a directory whose subdirectories are done: its files, then (-M)
// its times back.
void leave_directory(Run& s, WalkScratch& w, const std::string& dir_path, WalkFrame& frame) {
    process_directory_files(s, w, dir_path, frame.have_own_times ? &frame.own_times : nullptr, frame.reported);
    if (s.paths.maintain_dir_dates != 0 && frame.have_own_times && s.progress.counting_pass == 0) {
        // Every copy into the directory is made before it takes its times:
        // a copy still being written would move them.
        settle_work_in_flight(s);
        put_back_directory_times(s, dir_path, frame.own_times);
    }
}

}  // namespace

void walk_directory(Run& s, const std::string& dir_path) {
    // Depth first without recursion: the walk's own memory grows with the
    // depth of the tree, one frame and one name per level, and no tree is
    // too deep for it.
    std::string path = dir_path;
    std::vector<WalkFrame> stack;
    WalkScratch w;
    enter_directory(s, w, path, stack);
    while (!stack.empty()) {
        WalkFrame& top = stack.back();
        path.resize(top.path_length);
        if (top.next_child < top.children.size()) {
            path += top.children[top.next_child];
            path += paths::separator();
            // The name is no longer needed once the walk is below it.
            std::string().swap(top.children[top.next_child]);
            ++top.next_child;
            enter_directory(s, w, path, stack);
            continue;
        }
        leave_directory(s, w, path, top);
        stack.pop_back();
    }
}

bool is_excluded(Run& s, std::string_view file_name) {
    // Upper-cased in a string the run keeps, so that no file costs an
    // allocation.
    std::string& name = s.engine.excluded_name;
    name.assign(file_name);
    if (s.selection.exclude_keep_case == 0) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
    }
    for (const std::string& pattern : s.selection.exclude_list) {
        if (wildcard_match(pattern, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace veldro::walk
