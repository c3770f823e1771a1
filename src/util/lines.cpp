#include "util/lines.h"

#include <utility>

namespace veldro::util {

bool read_raw_line(std::FILE* file, std::string& line) {
    line.clear();
    bool read_any = false;
    for (;;) {
        const int c = std::fgetc(file);
        if (c == EOF) {
            return read_any;
        }
        read_any = true;
        if (c == '\n') {
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

void write_line_left_out(int number, const std::string& what) {
    std::fprintf(stderr, "\nLine %d of %s holds a NUL byte and is left out\n", number, what.c_str());
}

ListReader::ListReader(std::FILE* file, std::string what, bool strip_cr, bool quiet)
    : file_(file), what_(std::move(what)), strip_cr_(strip_cr), quiet_(quiet) {}

bool ListReader::next(std::string& line) {
    while (read_raw_line(file_, line)) {
        ++number_;
        if (line.find('\0') != std::string::npos) {
            if (quiet_) {
                continue;
            }
            if (note_) {
                note_(number_, what_);
            } else {
                write_line_left_out(number_, what_);
            }
            continue;
        }
        if (strip_cr_ && !line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return true;
    }
    return false;
}

}  // namespace veldro::util
