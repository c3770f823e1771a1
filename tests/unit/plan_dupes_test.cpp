// Flattening into numbered folders, duplicate renaming and the tilde rule.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fake_file_system.h"
#include "plan/dupes.h"
using veldro::OwnedRun;

namespace {

class DupesTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_.run.file_system = &files_;
        files_.add("/t", "", veldro::platform::EntryKind::directory);
    }
    static std::string path(const std::string& name) { return "/t/" + name; }
    void touch(const std::string& name) { files_.add(path(name), "x"); }

    veldro::test::FakeFileSystem files_;
    veldro::PlanEvents events_;
    OwnedRun s_;
};

TEST_F(DupesTest, FlatCountsUpToFiveNeverMakeFolders) {
    for (int flatten : {1, 3, 5}) {
        OwnedRun s;
        s.copy.flatten = flatten;
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(veldro::plan::flat_destination_dir(s, "/out"), "/out/") << flatten;
            ++s.dupes.files_copied_so_far;
        }
    }
}

TEST_F(DupesTest, FlatTenSpreadsTwentyFiveCopiesOverThreeFolders) {
    OwnedRun s;
    s.copy.flatten = 10;
    std::map<std::string, int> per_dir;
    for (int i = 0; i < 25; ++i) {
        ++per_dir[veldro::plan::flat_destination_dir(s, "/out/")];
        ++s.dupes.files_copied_so_far;
    }
    const std::map<std::string, int> expected{{"/out/", 10}, {"/out/0001/", 10}, {"/out/0002/", 5}};
    EXPECT_EQ(per_dir, expected);
}

TEST_F(DupesTest, FileNotCopiedAtAMultipleDoesNotSkipAFolder) {
    OwnedRun s;
    s.copy.flatten = 6;
    s.dupes.files_copied_so_far = 6;
    // Three files in a row are not copied while the count stands on 6.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(veldro::plan::flat_destination_dir(s, "/out"), "/out/0001/");
    }
    s.dupes.files_copied_so_far = 12;
    EXPECT_EQ(veldro::plan::flat_destination_dir(s, "/out"), "/out/0002/");
}

TEST_F(DupesTest, RenameDuplicateIndexesBeforeTheExtension) {
    std::string p = path("report.doc");
    veldro::plan::rename_duplicate(s_, p, events_);
    EXPECT_EQ(p, path("report[0000].doc"));
    std::string q = path("name");
    veldro::plan::rename_duplicate(s_, q, events_);
    EXPECT_EQ(q, path("name[0001]"));
    EXPECT_EQ(s_.dupes.dupe_index, 2);
    EXPECT_EQ(s_.counters.highest_dupe_index, 2);
}

TEST_F(DupesTest, RenameDuplicateDoesNotTakeTheExtensionFromADottedDirectory) {
    files_.add("/t/v1.2", "", veldro::platform::EntryKind::directory);
    std::string p = path("v1.2/README");
    veldro::plan::rename_duplicate(s_, p, events_);
    EXPECT_EQ(p, path("v1.2/README[0000]"));
}

TEST_F(DupesTest, NoCaseSkipsIndexedNamesThatDifferOnlyInCase) {
    s_.copy.no_case = true;
    touch("A[0000].TXT");
    std::string p = path("a.txt");
    veldro::plan::rename_duplicate(s_, p, events_);
    EXPECT_EQ(p, path("a[0001].txt"));
}

TEST_F(DupesTest, NoDupeRenamesOnlyWhenFlatteningAndTheNameExists) {
    touch("a.txt");
    std::string p = path("a.txt");
    s_.copy.no_dupe = true;
    veldro::plan::rename_duplicates_before_copy(s_, p, events_);
    EXPECT_EQ(p, path("a.txt")) << "--NODUPE acts only together with --FLAT";

    s_.copy.flatten = 1;
    std::string absent = path("b.txt");
    veldro::plan::rename_duplicates_before_copy(s_, absent, events_);
    EXPECT_EQ(absent, path("b.txt"));

    veldro::plan::rename_duplicates_before_copy(s_, p, events_);
    EXPECT_EQ(p, path("a[0000].txt"));
}

TEST_F(DupesTest, NoCaseRenamesANameThatExistsIgnoringCase) {
    touch("REPORT.DOC");
    s_.copy.no_case = true;
    std::string p = path("report.doc");
    veldro::plan::rename_duplicates_before_copy(s_, p, events_);
    EXPECT_EQ(p, path("report[0000].doc"));

    std::string other = path("summary.doc");
    veldro::plan::rename_duplicates_before_copy(s_, other, events_);
    EXPECT_EQ(other, path("summary.doc"));
}

TEST_F(DupesTest, NoDupeAndNoCaseBothApplyToTheRenamedName) {
    touch("a.txt");
    touch("A[0000].txt");
    s_.copy.flatten = 1;
    s_.copy.no_dupe = true;
    s_.copy.no_case = true;
    std::string p = path("a.txt");
    veldro::plan::rename_duplicates_before_copy(s_, p, events_);
    EXPECT_EQ(p, path("a[0001].txt"));
}

TEST_F(DupesTest, TildeRuleLeavesOtherNamesAlone) {
    s_.copy.check_tilde = true;
    touch("ABCDEFGH~1.TXT");
    touch("plain.txt");
    veldro::platform::FindRecord entry;

    entry.name = "ABCDEFGH~1.TXT";  // tilde only after the eighth character
    std::string p = path(entry.name);
    veldro::plan::apply_tilde_rule(s_, p, entry, events_);
    EXPECT_EQ(p, path(entry.name));

    entry.name = "NEW~1.TXT";  // destination does not exist
    p = path(entry.name);
    veldro::plan::apply_tilde_rule(s_, p, entry, events_);
    EXPECT_EQ(p, path(entry.name));

    EXPECT_EQ(events_.size(), 0U);
}

struct InFlight final : veldro::WorkInFlight {
    std::vector<std::string> asked;
    int settles = 0;
    void settle() override { ++settles; }
    void settle_if_taken(const std::string& destination) override { asked.push_back(destination); }
    veldro::PlanEvent& add_event(veldro::PlanEvent::Kind kind) override { return events.add(kind); }
    veldro::PlanEvents events;
};

TEST_F(DupesTest, WaitsOnlyForCopiesInFlightThatCanChangeTheAnswer) {
    InFlight flow;
    s_.run.in_flight = &flow;
    touch("a.txt");
    std::string p = path("a.txt");
    veldro::plan::rename_duplicate(s_, p, events_);
    EXPECT_EQ(flow.asked, std::vector<std::string>{path("a[0000].txt")});
    // Nine files handed on cannot reach the tenth copy that moves the folder.
    s_.copy.flatten = 10;
    s_.dupes.copies_planned = 9;
    EXPECT_EQ(veldro::plan::flat_destination_dir(s_, "/out"), "/out/");
    EXPECT_EQ(flow.settles, 0);
    s_.dupes.copies_planned = 10;
    EXPECT_EQ(veldro::plan::flat_destination_dir(s_, "/out"), "/out/");
    EXPECT_EQ(flow.settles, 1);
    s_.run.in_flight = nullptr;
}

}  // namespace
