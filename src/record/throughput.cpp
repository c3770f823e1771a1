#include "record/throughput.h"

#include <cstdio>

#include "platform/system.h"

namespace veldro::record {

void start_progress_clock(Run& s) {
    s.progress.progress_start = platform::now_seconds();
}

void show_throughput(Run& s, std::int64_t total_bytes, std::int64_t done_bytes) {
    const std::int64_t now = platform::now_seconds();
    if (total_bytes != 0) {
        const double elapsed = static_cast<double>(now - s.progress.progress_start);
        const double since_start = static_cast<double>(now - s.progress.start_time);
        const double done = static_cast<double>(done_bytes);
        const double rate = since_start > 0 ? done / since_start / 1000000.0 * 60.0 : 0.0;
        const double fraction = done / static_cast<double>(total_bytes);
        const double remaining_real = fraction > 0 ? elapsed / fraction - elapsed : 0.0;
        const auto remaining = remaining_real > 0 ? static_cast<long long>(remaining_real) : 0LL;
        std::fprintf(stdout, "\n\n\n%.0f meg/min  %2d hrs. %2d mins. %2d secs remaining\n\n\n", rate,
                     static_cast<int>(remaining / 3600), static_cast<int>((remaining % 3600) / 60),
                     static_cast<int>((remaining % 3600) % 60));
        if (s.counters.hash_mismatches != 0) {
            platform::set_console_attribute(platform::StdStream::output, 12);
            std::fprintf(stdout, "\nAt least %d hash errors so far\n", static_cast<int>(s.counters.hash_mismatches));
            platform::set_console_attribute(platform::StdStream::output, 158);
        }
        return;
    }
    const std::int64_t minutes = (now - s.progress.progress_start) / 60;
    if (minutes == 0) {
        return;
    }
    const std::int64_t rate = done_bytes / minutes / 1000000;
    std::fprintf(stdout, "\n\n\n%.0f meg/min \n\n\n", static_cast<double>(rate));
}

}  // namespace veldro::record
