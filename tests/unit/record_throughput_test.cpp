#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "record/throughput.h"
#include "run/run.h"

namespace veldro::record {
namespace {

// The clocks are set far enough back that a second passing while the test
// runs cannot change what the lines show.
std::string throughput_text(OwnedRun& s, std::int64_t total, std::int64_t done) {
    testing::internal::CaptureStdout();
    show_throughput(s, total, done);
    return testing::internal::GetCapturedStdout();
}

TEST(Throughput, HalfDoneAfterAnHourLeavesAnHour) {
    OwnedRun s;
    const std::int64_t now = platform::now_seconds();
    s.progress.start_time = now - 3600;
    s.progress.progress_start = now - 3600;
    // 12,000 MB in an hour is 200 MB a minute; half of the total is done.
    const std::string text = throughput_text(s, 24000000000LL, 12000000000LL);
    EXPECT_EQ(text.rfind("\n\n\n200 meg/min   1 hrs.  0 mins. ", 0), 0U) << text;
    EXPECT_TRUE(text.ends_with(" secs remaining\n\n\n")) << text;
    EXPECT_EQ(text.find("hash errors"), std::string::npos);
}

TEST(Throughput, NamesHashErrorsSoFar) {
    OwnedRun s;
    const std::int64_t now = platform::now_seconds();
    s.progress.start_time = now - 3600;
    s.progress.progress_start = now - 3600;
    s.counters.hash_mismatches = 3;
    const std::string text = throughput_text(s, 2000, 1000);
    EXPECT_TRUE(text.ends_with("\nAt least 3 hash errors so far\n")) << text;
}

TEST(Throughput, WithoutATotalShowsWholeMinutesOnly) {
    OwnedRun s;
    const std::int64_t now = platform::now_seconds();
    s.progress.progress_start = now - 150;  // two whole minutes
    EXPECT_EQ(throughput_text(s, 0, 500000000), "\n\n\n250 meg/min \n\n\n");
    s.progress.progress_start = now + 30;  // under a minute: nothing yet
    EXPECT_EQ(throughput_text(s, 0, 500000000), "");
}

}  // namespace
}  // namespace veldro::record
