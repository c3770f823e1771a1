#include "driver/flush.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/system.h"

namespace veldro::driver {

namespace {

std::vector<std::string> written_places(const Run& s) {
    const LogOptions& l = s.logs;
    std::vector<std::string> places;
    for (const std::string* path :
         {&s.paths.dest_path, &l.default_log_path, &l.error_file_path, &s.hashing.hash_log_path,
          &s.hashing.unicode_list_path, &l.memo_path, &l.dfxml_path, &l.audit_set_path, &l.report_path}) {
        if (!path->empty()) {
            places.push_back(*path);
        }
    }
    return places;
}

}  // namespace

bool flush_outputs_to_drives(const Run& s, bool say_time) {
    const auto began = std::chrono::steady_clock::now();
    const std::error_code error = platform::flush_file_systems(written_places(s));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    if (error) {
        std::fprintf(stderr, "\nThe copies and logs could not all be flushed to their drives (%s)\n",
                     platform::error_text(error).c_str());
        return false;
    }
    if (say_time && s.paths.dest_given != 0 && s.console.silent == 0) {
        std::fprintf(stdout, "\n  Copies and logs flushed to their drives in %.2f secs.\n", took.count());
    }
    return true;
}

}  // namespace veldro::driver
