#include "config/usage.h"

#include <cstdio>

#include "driver/terminate.h"

namespace veldro::config {

void show_usage(int status) {
    std::fputs("Usage: veldro  (optional)source_dir  (optional)destination_dir  -[OPTIONS]\n", stdout);
    exit_without_summary(status);
}
void show_log_help() {}

}  // namespace veldro::config
