// The live status line a terminal shows during the copy: the figures the
// recording thread and the workers publish (atomics, so that publishing
// never waits), and the line made from them on the console thread. Console
// state: it lives with the console thread that draws the line.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace veldro::platform {

// Totals from the counting pass (0 when there was none).
void publish_totals(std::int64_t files, std::int64_t bytes);
// Files and bytes recorded as handled so far.
void publish_done(std::int64_t files, std::int64_t bytes);
// The line is shown only while the files are worked on.
void show_status_line(bool on);

// A file copied by this thread whose size is at least `large_file_bytes`
// is named on the status line with its own percentage while this object
// lives. The last large file begun is the one named.
inline constexpr std::uint64_t large_file_bytes = std::uint64_t{32} << 20;
class FollowedFile {
public:
    FollowedFile(std::string_view shown_name, std::uint64_t size);
    ~FollowedFile();
    FollowedFile(const FollowedFile&) = delete;
    FollowedFile& operator=(const FollowedFile&) = delete;
    FollowedFile(FollowedFile&&) = delete;
    FollowedFile& operator=(FollowedFile&&) = delete;

private:
    std::atomic<std::uint64_t> copied_{0};
    bool named_ = false;
};

// What one status line says.
struct StatusFigures {
    std::int64_t files_done = 0;
    std::int64_t files_total = 0;  // 0: not known
    std::int64_t bytes_done = 0;
    std::int64_t bytes_total = 0;  // 0: not known
    double bytes_per_second = 0;   // over the last seconds; 0: not known yet
    std::string_view file;         // the large file under way, or empty
    std::uint64_t file_done = 0;
    std::uint64_t file_size = 0;
};

// Writes the line for `f` into `out`, at most `width` - 1 characters of
// printable ASCII, and returns its length.
std::size_t format_status_line(const StatusFigures& f, char* out, std::size_t capacity, int width);

// The console thread's source of the line (StatusLineSource):
// samples the published figures and the bytes copied, takes the rate over
// the last five seconds and formats the line. Not thread-safe: one caller.
std::size_t live_status_line(char* out, std::size_t capacity, int width);

}  // namespace veldro::platform
