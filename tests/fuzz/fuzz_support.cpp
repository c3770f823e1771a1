#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <system_error>

namespace veldro::fuzz {

namespace {

std::filesystem::path scratch;

// Several fields may hold one stream (the error log is also the error
// stream): each is closed once.
void close_streams(std::initializer_list<std::FILE**> fields) {
    std::set<std::FILE*> closed{nullptr, stdout, stderr};
    for (std::FILE** field : fields) {
        if (closed.insert(*field).second) {
            std::fclose(*field);
        }
        *field = nullptr;
    }
}

}  // namespace

void enter_sandbox() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veldro-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratch = pattern;
    std::filesystem::create_directory(scratch / "work");
    std::filesystem::current_path(scratch / "work");
    if (std::freopen("/dev/null", "r", stdin) == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    // The scratch directory goes when the fuzzer ends normally.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });
}

bool stays_in_sandbox(std::string_view text) {
    return text.find('/') == std::string_view::npos && text.find("..") == std::string_view::npos;
}

void finish_input(OwnedRun& s) {
    OpenFiles& l = s.files;
    close_streams({&l.list_file, &l.hash_log, &l.hash_error_log, &l.hash_rerun_log, &l.unicode_list_stream,
                   &l.default_log, &l.list_log, &l.copied_log, &l.not_copied_log, &l.error_log, &l.dupes_log,
                   &l.dir_count_log, &l.unicode_log, &l.error_stream, &l.memo_stream});
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(scratch, ignored)) {
        if (entry.path().filename() != "work") {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch / "work", ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

std::string write_work_file(std::string_view name, std::string_view bytes) {
    std::ofstream(std::string(name), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return std::string(name);
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace veldro::fuzz
