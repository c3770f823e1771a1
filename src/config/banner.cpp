#include "config/banner.h"

#include <cstdio>
#include <string>

#include "util/version.h"

namespace veldro::config {

namespace {

// The box characters of the console's original code page, as Unicode.
constexpr const char* box_top_left = "\u2554";
constexpr const char* box_top_right = "\u2557";
constexpr const char* box_bottom_left = "\u255A";
constexpr const char* box_bottom_right = "\u255D";
constexpr const char* box_horizontal = "\u2550";
constexpr const char* box_vertical = "\u2551";
constexpr int box_inner_width = 74;

std::string border(const char* left, const char* right) {
    std::string line = left;
    for (int i = 0; i < box_inner_width; ++i) {
        line += box_horizontal;
    }
    line += right;
    return line;
}

// An empty box line with `text` written into it from column 38 - length / 2
// (the columns of the 76-character box, the left edge being column 0).
std::string text_line(const std::string& text) {
    std::string inner(box_inner_width, ' ');
    const int start = 38 - static_cast<int>(text.size()) / 2;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t at = static_cast<std::size_t>(start - 1) + i;  // column 0 is the edge
        if (at < inner.size()) {
            inner[at] = text[i];
        }
    }
    return std::string(box_vertical) + inner + box_vertical;
}

}  // namespace

void show_banner() {
    std::FILE* out = stderr;
    for (int i = 5; i < 30; ++i) {
        std::fputs("\n", out);
    }
    const std::string lines[] = {
        border(box_top_left, box_top_right),
        text_line("VELDRO"),
        text_line("Ver. " + util::program_version_text() + " (32 bit_unicode)"),
        text_line(""),
        border(box_bottom_left, box_bottom_right),
    };
    for (const std::string& line : lines) {
        std::fprintf(out, "  %s\n", line.c_str());
    }
}

}  // namespace veldro::config
