// The run's index of destination names.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "util/name_index.h"

namespace veldro::util {
namespace {

TEST(NameIndex, WrittenPathsAndFoldedNamesListedOncePerDirectory) {
    std::map<std::string, int> listed;
    const NameIndex::Lister lister = [&listed](const std::string& dir, const auto& add) {
        ++listed[dir];
        add("Report.DOC");
    };
    NameIndex index;
    EXPECT_FALSE(index.written_from_other("/out/a.txt", "/src/x/a.txt"));
    index.note_written("/out/a.txt", "/src/x/a.txt", "/out", "a.txt");
    EXPECT_TRUE(index.written_from_other("/out/a.txt", "/src/y/a.txt"));
    EXPECT_FALSE(index.written_from_other("/out/a.txt", "/src/x/a.txt"));

    EXPECT_TRUE(index.holds_folded("/out", "report.doc", lister));
    EXPECT_FALSE(index.holds_folded("/out", "A.TXT", lister));  // written before the listing: on disk, not here
    index.note_written("/out/b.txt", "/src/b.txt", "/out", "b.txt");
    EXPECT_TRUE(index.holds_folded("/out", "B.TXT", lister));
    EXPECT_EQ(listed["/out"], 1);

    // Only the most recently used directories stay indexed.
    for (int i = 0; i < 10; ++i) {
        index.holds_folded("/other" + std::to_string(i), "x", lister);
    }
    EXPECT_EQ(index.indexed_directories(), NameIndex::max_listings);
    index.holds_folded("/out", "report.doc", lister);
    EXPECT_EQ(listed["/out"], 2);
}

}  // namespace
}  // namespace veldro::util
