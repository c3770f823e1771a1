#include "walk/walk.h"

#include <cstdio>
#include <vector>

#include "copy/destination.h"
#include "copy/pipeline.h"
#include "copy/times.h"
#include "driver/terminate.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "util/paths.h"
#include "util/text.h"

namespace veldro::walk {

namespace {

// Ctrl-C (recorded by the interrupt handler, or read as code 3) or Escape
// at the console ends the run. The interrupt flag is looked at for every
// entry; the console, which costs a few system calls a look, once per
// directory and every 32 entries, and never without a terminal.
void poll_user_abort(bool new_directory = false) {
    check_interrupt();
    static const bool console = platform::stdin_is_terminal();
    static unsigned entries = 0;
    if (!console || (!new_directory && ++entries % 32 != 0)) {
        return;
    }
    if (platform::key_waiting()) {
        const int key = platform::read_key();
        if (key == 3 || key == 27) {
            terminate_run(USER_ABORTED);
        }
    }
}

bool is_bypassed(const RunSettings& s, const std::string& dir_path) {
    if (s.selection.bypass_mode == 0) {
        return false;
    }
    // A plain text prefix: an entry for /data/tmp also covers /data/tmpfiles/.
    for (const std::string& entry : s.selection.bypass_list) {
        if (!entry.empty() && paths::starts_with_ignoring_case(dir_path, entry)) {
            return true;
        }
    }
    return false;
}

bool ends_type_list(const std::string& pattern) {
    return pattern.empty() || pattern[0] == '-';
}

void count_file(RunSettings& s, const platform::FindRecord& record) {
    ProgressState& p = s.progress;
    ++p.files_to_process;
    if (p.files_to_process % 1000 == 0) {
        std::fprintf(stderr, "%7ld\b\b\b\b\b\b\b", static_cast<long>(p.files_to_process));
    }
    p.bytes_to_process += static_cast<std::int64_t>(record.size);
}

void write_dir_count_line(RunSettings& s) {
    EngineState& e = s.engine;
    if (s.logs.dir_count_log == nullptr || e.dir_copied_count == 0 || e.last_source_dir == e.last_counted_dir) {
        return;
    }
    std::fprintf(s.logs.dir_count_log, "\n%6ld   %s", static_cast<long>(e.dir_copied_count),
                 std::string(paths::display_path(e.last_source_dir)).c_str());
    e.last_counted_dir = e.last_source_dir;
}

// -M, after a directory is done: its source gets back the times it had when
// the walk came to it (written only when they moved, so that an untouched
// directory is not touched by the writing either), and its copy gets them
// too, now that every copy into it is made.
void put_back_directory_times(RunSettings& s, const std::string& dir_path, const platform::FileTimeSet& own) {
    const std::string plain = paths::without_trailing_separator(dir_path);
    platform::FindRecord now;
    if (!platform::lookup_path(plain, now) || !(now.times.last_access == own.last_access) ||
        !(now.times.last_write == own.last_write)) {
        copy::set_directory_times(plain, own);
    }
    if (s.copy.flatten != 0 || s.copy.list_only != 0) {
        return;
    }
    std::string dest_dir;
    copy::destination_dir_for(s, dir_path, dest_dir);
    dest_dir = paths::without_trailing_separator(dest_dir);
    platform::FindRecord dest;
    if (platform::lookup_path(dest_dir, dest) && dest.kind == platform::EntryKind::directory) {
        copy::set_directory_times(dest_dir, own);
    }
}

void process_directory_files(RunSettings& s, const std::string& dir_path, const platform::FileTimeSet* own_times) {
    const bool counting = s.progress.counting_pass != 0;
    if (s.paths.maintain_dir_dates != 0 && !counting) {
        const std::string first_root = s.paths.source_paths.empty() ? std::string() : s.paths.source_paths.front();
        copy::maintain_directory_chain(s, dir_path, s.paths.dest_path, first_root);
        if (own_times != nullptr) {
            // Directories made for this directory's files take its dates.
            s.engine.saved_dir_times = *own_times;
        }
    }
    static platform::DirectorySearch search;
    static platform::FindRecord record;
    for (const std::string& pattern : s.selection.type_list) {
        if (ends_type_list(pattern)) {
            break;
        }
        if (!search.open(dir_path, pattern, platform::SearchDetail::full)) {
            continue;
        }
        while (search.next(record)) {
            poll_user_abort();
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
            copy::process_file(s, dir_path, record.name, record);
            ++s.counters.files_processed;
        }
        search.close();
    }
    write_dir_count_line(s);
}

}  // namespace

bool walk_directory(RunSettings& s, const std::string& dir_path) {
    if (is_bypassed(s, dir_path)) {
        return true;
    }
    poll_user_abort(true);

    // -M: the directory's own times, read before anything reads the
    // directory, so that they can be written back onto this same directory.
    const bool dated = s.paths.maintain_dir_dates != 0;
    platform::FileTimeSet own_times;
    bool have_own_times = false;
    if (dated) {
        platform::FindRecord self;
        have_own_times = platform::lookup_path(paths::without_trailing_separator(dir_path), self);
        own_times = self.times;
    }

    // The subdirectories are listed first and walked after the listing is
    // closed, so that a deep tree never holds one open directory per level.
    std::vector<std::string> children;
    {
        static platform::DirectorySearch search;
        static platform::FindRecord entry;
        if (!search.open(dir_path, "*", platform::SearchDetail::kind_only)) {
            return false;  // unreadable: its own files are not handled either
        }
        while (s.selection.recurse != 0 && search.next(entry)) {
            // Links and junctions are never descended, so no loop can trap
            // the walk. (Files are polled for when they are handled.)
            if (entry.kind == platform::EntryKind::directory) {
                poll_user_abort();
                children.push_back(entry.name);
            }
        }
        search.close();
    }
    for (const std::string& child : children) {
        std::string child_path = dir_path;
        child_path += child;
        child_path += paths::separator();
        walk_directory(s, child_path);
    }

    process_directory_files(s, dir_path, have_own_times ? &own_times : nullptr);

    if (dated && have_own_times && s.progress.counting_pass == 0) {
        put_back_directory_times(s, dir_path, own_times);
    }
    return true;
}

bool is_excluded(const RunSettings& s, const std::string& file_name) {
    static std::string name;
    name.assign(file_name);
    if (s.selection.exclude_keep_case == 0) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
    }
    for (const std::string& pattern : s.selection.exclude_list) {
        if (wildcard_match(pattern, name) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace veldro::walk
