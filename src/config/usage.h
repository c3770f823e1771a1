// The paged usage text and the log help.
#pragma once

namespace veldro::config {

// Shows the usage text and ends the process with `status` after the last
// page (6 when the paging is abandoned).
[[noreturn]] void show_usage(int status);

// Shows the log help; returns after its last page.
void show_log_help();

}  // namespace veldro::config
