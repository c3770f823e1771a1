#include "platform/console_screen.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/live_status.h"

namespace veldro {
namespace {

using platform::console_hold_marker;
using platform::ConsoleScreen;

std::string shown(ConsoleScreen& screen, std::int64_t now, std::string_view status = {}, bool finish = false) {
    std::string out;
    screen.render(now, 80, status, finish, out);
    return out;
}

TEST(ConsoleScreen, HoldKeepsBackOnlyWhatFollowsItAndKeepsTheOrder) {
    ConsoleScreen screen;
    screen.take("one\n" + console_hold_marker(3) + "two\n" + console_hold_marker(1) + "three\n");
    EXPECT_EQ(shown(screen, 0), "one\n");
    EXPECT_EQ(shown(screen, 2999), "");
    EXPECT_EQ(shown(screen, 3000), "two\n");
    screen.take("four\n");
    EXPECT_EQ(shown(screen, 3999), "");
    EXPECT_EQ(shown(screen, 4000), "three\nfour\n");
}

TEST(ConsoleScreen, TheEndShowsEverythingAtOnceAndAMarkerSplitAcrossReadsStillHolds) {
    ConsoleScreen screen;
    const std::string marker = console_hold_marker(10);
    screen.take("a\n" + marker.substr(0, 2));
    EXPECT_EQ(shown(screen, 0), "a\n");
    screen.take(marker.substr(2) + "b\n");
    EXPECT_EQ(shown(screen, 1), "");
    EXPECT_EQ(shown(screen, 2, {}, true), "b\n");
}

TEST(ConsoleScreen, StatusLineIsErasedBeforeTextAndComesBackBelowIt) {
    ConsoleScreen screen;
    EXPECT_EQ(shown(screen, 0, "status"), "status");
    EXPECT_EQ(shown(screen, 1, "status"), "");  // unchanged: not drawn again
    screen.take("line\n");
    EXPECT_EQ(shown(screen, 2, "status"), "\r\x1b[Kline\nstatus");
    // Text that leaves the cursor inside a line: the status goes below it,
    // and the cursor goes back to the end of that line before more text.
    screen.take("partial");
    EXPECT_EQ(shown(screen, 3, "status"), "\r\x1b[Kpartial\nstatus");
    screen.take(" more\n");
    EXPECT_EQ(shown(screen, 4, "next"), "\r\x1b[K\x1b[A\x1b[8G more\nnext");
    EXPECT_EQ(shown(screen, 5, "next", true), "\r\x1b[K");
}

TEST(ConsoleScreen, NoStatusWhereTheCursorCannotBeFoundAgain) {
    ConsoleScreen screen;
    screen.take("caf\xc3\xa9");  // a character of unknown width on the line
    EXPECT_EQ(shown(screen, 0, "status"), "caf\xc3\xa9");
    screen.take("\n");
    EXPECT_EQ(shown(screen, 1, "status"), "\nstatus");
}

TEST(StatusLine, SaysFilesBytesRateTimeLeftAndTheLargeFile) {
    platform::StatusFigures f;
    f.files_done = 1234;
    f.files_total = 5678;
    f.bytes_done = 1500000000;
    f.bytes_total = 3000000000;
    f.bytes_per_second = 50000000;
    f.file = "/evidence/disk.img";
    f.file_done = 1;
    f.file_size = 4;
    char out[256];
    std::size_t n = platform::format_status_line(f, out, sizeof out, 200);
    EXPECT_EQ(std::string(out, n),
              " 1,234 of 5,678 files | 1,500 of 3,000 MB (50%) | 50.0 MB/s | 0:00:30 left | /evidence/disk.img 25%");
    // A narrow screen keeps the file's share and cuts its name from the left.
    n = platform::format_status_line(f, out, sizeof out, 95);
    EXPECT_EQ(std::string(out, n),
              " 1,234 of 5,678 files | 1,500 of 3,000 MB (50%) | 50.0 MB/s | 0:00:30 left | ...e/disk.img 25%");
    EXPECT_EQ(n, 94U);
    // Without a counting pass there are no totals.
    f.files_total = 0;
    f.bytes_total = 0;
    f.file = {};
    n = platform::format_status_line(f, out, sizeof out, 200);
    EXPECT_EQ(std::string(out, n), " 1,234 files | 1,500 MB | 50.0 MB/s");
}

}  // namespace
}  // namespace veldro
