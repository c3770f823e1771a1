// The paged usage text, the log help and the version line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/paths.h"

namespace veldro::config {

// Shows the usage text and ends the process with `status` after the last
// page (6 when the paging is abandoned). Without a terminal on standard
// input every page is shown without prompts.
[[noreturn]] void show_usage(int status);

// Shows the log help; returns after its last page (ends the process with
// 6 when the paging is abandoned).
void show_log_help();

// Prints "VELDRO Ver. " with the version text and the platform on
// standard output; the caller ends the run.
void show_version();

// An option error, or a page asked for, met while the options are read. It
// is said once the files named before it are open, as if those had been
// opened where they were named: `say` prints it and ends the run.
struct OptionStop {
    enum class Page : std::uint8_t { none, usage, version };
    Page page = Page::none;
    int status = 0;
    std::string text;  // printed on standard output before the summary
};
[[noreturn]] void say(const OptionStop& stop);

// The page texts with the example paths of a platform's style, for the
// paging above and for tests that check every option is explained.
std::vector<std::string> usage_pages(paths::Style style = paths::native_style);
std::vector<std::string> log_help_pages(paths::Style style = paths::native_style);
// The two log samples and the build lines printed after the last page.
std::string usage_closing_text(paths::Style style = paths::native_style);

}  // namespace veldro::config
