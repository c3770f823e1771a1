// Listing the named streams of a file, with the backup privileges enabled
// first and the user asked what to do when a stream cannot be read.
#include "ads/streams.h"
#include "platform/streams.h"
#include "platform/system.h"
#include "record/run_report.h"
#include "util/run_end.h"

namespace veldro::ads {

namespace {

[[noreturn]] void privilege_failure(int line, const char* what) {
    record::report_stream_privilege_failure(line, what);
    throw util::RunEnd{OTHER_EXIT};
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

int enumerate_streams(Run& s, const std::string& path) {
    enable_backup_privileges();
    std::size_t listed = 0;
    // Only the stream options tell a file that cannot be opened from one
    // without streams; elsewhere both count none, and a look that opens
    // nothing is enough for the many files that have none.
    const bool open_told = s.copy.ads_parent != 0 || s.copy.ads_child != 0;
    const platform::StreamListStatus status = !open_told && platform::has_no_named_streams(path)
                                                  ? platform::StreamListStatus::complete
                                                  : platform::list_named_streams(path, s.streams.stream_table, listed);
    return record::count_after_listing(s, status, listed, record::ListingSeenBy::planner);
}

}  // namespace veldro::ads
