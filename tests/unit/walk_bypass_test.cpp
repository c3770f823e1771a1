// Which directories a bypass entry covers.
#include <gtest/gtest.h>

#include "walk/bypass.h"

namespace veldro::walk {
namespace {

using paths::Style;

TEST(BypassCovers, WholeComponentsAndCaseOnlyOnWindows) {
    const struct {
        const char* entry;
        const char* directory;
        Style style;
        bool covered;
    } cases[] = {
        {"/x/case", "/x/case/", Style::posix, true},
        {"/x/case", "/x/case/sub/deeper/", Style::posix, true},
        {"/x/case/", "/x/case", Style::posix, true},
        {"/x/case", "/x/case_files/", Style::posix, false},
        {"/x/case", "/x/case2/", Style::posix, false},
        {"/x/case", "/x/Case/", Style::posix, false},
        {"/x/case", "/x/", Style::posix, false},
        {"/", "/x/", Style::posix, true},
        {"", "/x/", Style::posix, false},
        {"\\\\?\\C:\\X\\CASE", "\\\\?\\C:\\x\\Case\\sub\\", Style::windows, true},
        {"\\\\?\\C:\\X\\CASE", "\\\\?\\C:\\x\\Case2\\", Style::windows, false},
        {"\\\\?\\C:\\", "\\\\?\\C:\\x\\", Style::windows, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bypass_covers(c.entry, c.directory, c.style), c.covered) << c.entry << " / " << c.directory;
    }
}

}  // namespace
}  // namespace veldro::walk
