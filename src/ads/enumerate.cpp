// Listing the named streams of a file, with the backup privileges enabled
// first and the user asked what to do when a stream cannot be read.
#include "ads/streams.h"
#include "logs/run_report.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "util/run_end.h"

namespace veldro::ads {

namespace {

[[noreturn]] void privilege_failure(int line, const char* what) {
    logs::report_stream_privilege_failure(line, what);
    throw util::RunEnd{OTHER_EXIT};
}

// A stream header could not be read. Asks once per run whether to go on;
// 'Y' (upper case only) ignores this and every later read error; any
// other answer ends the run.
void ask_after_read_error(Run& s) {
    if (logs::ask_after_stream_read_error(s) != 'Y') {
        // The run ends as an abort, with its summary and its logs closed.
        logs::report_stream_question_refused(s);
        throw util::RunEnd{USER_ABORTED};
    }
    s.streams.ads_errors_ignored = true;
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
                logs::report_stream_error_ignored(s);
            } else {
                ask_after_read_error(s);
                count = 0;
            }
            break;
        case platform::StreamListStatus::name_read_failed:
            logs::report_stream_name_unreadable(s);
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
