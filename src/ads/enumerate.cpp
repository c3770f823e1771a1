// Listing the named streams of a file, with the backup privileges enabled
// first and the user asked what to do when a stream cannot be read.
#include <cstdio>

#include "ads/streams.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "util/run_end.h"

namespace veldro::ads {

namespace {

constexpr const char* listing_module = ".\\dmp_fun_veldro";
constexpr const char* rerun_hint = "\nTry using the -S option and rerun program\n\n";

std::FILE* console(const Run& s) {
    return s.files.report_stream != nullptr ? s.files.report_stream : stdout;
}

[[noreturn]] void privilege_failure(int line, const char* what) {
    std::printf("\n%d %s %s", line, listing_module, what);
    std::fputs(rerun_hint, stdout);
    std::fflush(stdout);
    throw util::RunEnd{OTHER_EXIT};
}

// A stream header could not be read. Asks once per run whether to go on;
// 'Y' (upper case only) ignores this and every later read error; any
// other answer ends the run.
void ask_after_read_error(Run& s) {
    std::FILE* out = console(s);
    std::fprintf(out, "\nLine: %d Source File: %s Has encountered an Alt Data Stream Read error", 98, listing_module);
    std::fputs("\n\nIf you want me to continue press 'Y' else anyting else aborts", out);
    std::fputs("\nIf you press Y, the -S, \"no alternate data stream option\" will be installed\n", out);
    std::fputs("Enter Y or anything els now ", out);
    std::fflush(out);
    if (platform::read_key() != 'Y') {
        // The run ends as an abort, with its summary and its logs closed.
        std::fputs("\n", out);
        throw util::RunEnd{USER_ABORTED};
    }
    s.streams.ads_errors_ignored = 1;
}

}  // namespace

void enable_backup_privileges() {
    switch (platform::enable_backup_privileges()) {
        case platform::PrivilegeStatus::enabled:
        case platform::PrivilegeStatus::not_held:
            return;
        case platform::PrivilegeStatus::token_open_failed:
            privilege_failure(267, "Token open error");
        case platform::PrivilegeStatus::backup_lookup_failed:
            privilege_failure(277, "Privilege error");
        case platform::PrivilegeStatus::restore_lookup_failed:
            privilege_failure(284, "LookupPrivilegeValue error");
    }
}

int count_after_listing(Run& s, platform::StreamListStatus status, std::size_t listed) {
    StreamState& streams = s.streams;
    std::size_t count = listed;
    streams.open_failed = status == platform::StreamListStatus::open_failed;
    switch (status) {
        case platform::StreamListStatus::complete:
            break;
        case platform::StreamListStatus::open_failed:
        case platform::StreamListStatus::unsupported:
            count = 0;
            break;
        case platform::StreamListStatus::header_read_failed:
            if (streams.ads_errors_ignored != 0) {
                std::fputs("\n", console(s));
            } else {
                ask_after_read_error(s);
                count = 0;
            }
            break;
        case platform::StreamListStatus::name_read_failed:
            std::fprintf(console(s), "\n%d", 160);
            break;
    }
    streams.stream_count = count;
    return static_cast<int>(count);
}

int enumerate_streams(Run& s, const std::string& path) {
    enable_backup_privileges();
    std::size_t listed = 0;
    const platform::StreamListStatus status = platform::list_named_streams(path, s.streams.stream_table, listed);
    return count_after_listing(s, status, listed);
}

}  // namespace veldro::ads
