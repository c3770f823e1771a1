#include "walk/list_mode.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "engine/file_flow.h"
#include "platform/fs.h"
#include "platform/names.h"
#include "platform/system.h"
#include "record/run_report.h"
#include "record/throughput.h"
#include "util/lines.h"
#include "util/paths.h"
#include "util/run_end.h"
#include "walk/walk.h"

namespace veldro::walk {
namespace {

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

void trim_trailing(std::string& text, bool line_ends_too) {
    while (!text.empty() &&
           (is_blank(text.back()) || (line_ends_too && (text.back() == '\n' || text.back() == '\r')))) {
        text.pop_back();
    }
}

void cut_at_bar(std::string& text) {
    const std::size_t bar = text.find('|');
    if (bar != std::string::npos) {
        text.erase(bar);
    }
}

// Reads every line of the list and hands the file it names to the flow,
// which decides and records it on the tree's road.
void read_listed_files(Run& s, std::FILE* list, engine::FileFlow& flow) {
    std::string line;
    bool first_line = true;
    util::ListReader lines(list, "the file list", false);
    // Its note on a line left out is recorded after the lines before it.
    lines.on_note([&s](int number, const std::string& what) { record::report_list_line_left_out(s, number, what); });
    while (lines.next(line)) {
        check_interrupt();
        if (first_line && line.starts_with(utf8_byte_order_mark)) {
            line.erase(0, utf8_byte_order_mark.size());
        }
        first_line = false;
        if (!clean_file_list_line(line)) {
            // A blank line ends nothing: it is counted, and the lines after
            // it are read.
            ++s.counters.list_blank_lines;
            continue;
        }
        // Normalised, so that a line climbing with ".." cannot put its copy
        // outside the destination.
        const std::string source = paths::make_long_path(platform::list_text_to_utf8(line));
        const bool excluded = s.selection.exclude_mode != 0 && is_excluded(s, paths::file_name(source));
        flow.handle_listed(source, excluded);
    }
}

// The run writes its copy lines into the default log; the run header
// closed it, so it is opened again by its name.
void reopen_default_log(Run& s) {
    const LogOptions& logs = s.logs;
    if (logs.log_mask > 1 && s.files.default_log == nullptr && !logs.default_log_path.empty()) {
        s.files.default_log = platform::open_stream(logs.default_log_path, "a+");
    }
}

}  // namespace

bool clean_file_list_line(std::string& line) {
    cut_at_bar(line);
    trim_trailing(line, true);
    return !line.empty();
}

bool clean_dirs_list_line(std::string& line) {
    // The length test counts the line as read, line end included: a line
    // of fewer than 3 bytes ends the list.
    if (line.size() + 1 < 3) {
        return false;
    }
    trim_trailing(line, true);
    cut_at_bar(line);
    trim_trailing(line, false);
    return true;
}

int run_file_list(Run& s) {
    std::FILE* list = s.files.list_file;
    if (list == nullptr) {
        return 0;
    }
    record::start_progress_clock(s);
    reopen_default_log(s);
    engine::FileFlow flow(s, std::min(s.options.threads, platform::worker_thread_limit()));
    with_work_in_flight(s, flow, [&] { read_listed_files(s, list, flow); });
    s.counters.bytes_processed = flow.listed_copied_bytes();
    return flow.listed_copies();
}

void read_dirs_list(OptionTarget& s, std::FILE* file) {
    if (file == nullptr) {
        return;
    }
    std::string line;
    bool first_line = true;
    util::ListReader lines(file, "the directory list", false);
    while (lines.next(line)) {
        if (first_line && line.starts_with(utf8_byte_order_mark)) {
            line.erase(0, utf8_byte_order_mark.size());
        }
        first_line = false;
        if (!clean_dirs_list_line(line)) {
            break;
        }
        if (line.empty()) {
            continue;  // nothing before the bar: no path at all
        }
        // Stored like every other root: normalised (so ".." cannot lead
        // outside the destination) and without a trailing separator, so
        // the directories below it join the destination with one separator.
        std::string root = paths::make_long_path(platform::list_text_to_utf8(line));
        if (!platform::is_directory(root)) {
            continue;
        }
        s.paths.source_root_lengths.push_back(root.size());
        s.paths.source_paths.push_back(std::move(root));
    }
    std::fclose(file);
}

}  // namespace veldro::walk
