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

TEST(NameIndex, NamesAreFreeOnlyInRecentlyMadeDirectoriesThatTellCaseApart) {
    NameIndex index;
    index.note_made_directory("/out/blind", false);
    index.note_made_directory("/out/d", true);
    index.note_made_directory("/out/d/sub", true);
    index.note_written("/out/d/a.txt", "/src/a.txt", "/out/d", "a.txt");
    EXPECT_TRUE(index.free_in_made_directory("/out/d/b.txt", "/out/d"));
    EXPECT_FALSE(index.free_in_made_directory("/out/d/a.txt", "/out/d"));          // written by the run
    EXPECT_FALSE(index.free_in_made_directory("/out/d/sub", "/out/d"));            // a directory it made
    EXPECT_FALSE(index.free_in_made_directory("/out/blind/b.txt", "/out/blind"));  // names ignore case
    EXPECT_FALSE(index.free_in_made_directory("/out/b.txt", "/out"));              // not made by the run
    for (int i = 0; i < static_cast<int>(NameIndex::max_free_directories); ++i) {
        index.note_made_directory("/out/n" + std::to_string(i), true);
    }
    EXPECT_FALSE(index.free_in_made_directory("/out/d/b.txt", "/out/d"));  // left long ago: looked for again
}

}  // namespace
}  // namespace veldro::util
