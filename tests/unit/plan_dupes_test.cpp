// Flattening into numbered folders, duplicate renaming and the tilde rule.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "plan/dupes.h"
#include "test_files.h"
#include "util/paths.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;

namespace {

class DupesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veldro_dupes_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        report_ = std::tmpfile();
        s_.files.report_stream = report_;
    }
    void TearDown() override {
        std::fclose(report_);
        if (s_.files.dupes_log != nullptr) {
            std::fclose(s_.files.dupes_log);
        }
        fs::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void touch(const std::string& name) const { std::ofstream(dir_ / name) << "x"; }
    static std::string read_all(std::FILE* f) { return veldro::test::read_stream(f); }

    fs::path dir_;
    std::FILE* report_ = nullptr;
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
    veldro::plan::rename_duplicate(s_, p);
    EXPECT_EQ(p, path("report[0000].doc"));
    std::string q = path("name");
    veldro::plan::rename_duplicate(s_, q);
    EXPECT_EQ(q, path("name[0001]"));
    EXPECT_EQ(s_.dupes.dupe_index, 2);
    EXPECT_EQ(s_.counters.highest_dupe_index, 2);
}

TEST_F(DupesTest, RenameDuplicateDoesNotTakeTheExtensionFromADottedDirectory) {
    fs::create_directories(dir_ / "v1.2");
    std::string p = path("v1.2/README");
    veldro::plan::rename_duplicate(s_, p);
    EXPECT_EQ(p, path("v1.2/README[0000]"));
}

TEST_F(DupesTest, RenameDuplicateSkipsIndexesInUse) {
    // As left by an earlier run, which also started counting at 0.
    touch("a.txt");
    touch("a[0000].txt");
    touch("a[0001].txt");
    std::string p = path("a.txt");
    veldro::plan::rename_duplicate(s_, p);
    EXPECT_EQ(p, path("a[0002].txt"));
    EXPECT_EQ(s_.dupes.dupe_index, 3);
    EXPECT_EQ(s_.counters.highest_dupe_index, 3);
}

TEST_F(DupesTest, NoCaseSkipsIndexedNamesThatDifferOnlyInCase) {
    s_.copy.no_case = 1;
    touch("A[0000].TXT");
    std::string p = path("a.txt");
    veldro::plan::rename_duplicate(s_, p);
    EXPECT_EQ(p, path("a[0001].txt"));
}

TEST_F(DupesTest, NoDupeRenamesOnlyWhenFlatteningAndTheNameExists) {
    touch("a.txt");
    std::string p = path("a.txt");
    s_.copy.no_dupe = 1;
    veldro::plan::rename_duplicates_before_copy(s_, p);
    EXPECT_EQ(p, path("a.txt")) << "--NODUPE acts only together with --FLAT";

    s_.copy.flatten = 1;
    std::string absent = path("b.txt");
    veldro::plan::rename_duplicates_before_copy(s_, absent);
    EXPECT_EQ(absent, path("b.txt"));

    veldro::plan::rename_duplicates_before_copy(s_, p);
    EXPECT_EQ(p, path("a[0000].txt"));
}

TEST_F(DupesTest, NoCaseRenamesANameThatExistsIgnoringCase) {
    touch("REPORT.DOC");
    s_.copy.no_case = 1;
    std::string p = path("report.doc");
    veldro::plan::rename_duplicates_before_copy(s_, p);
    EXPECT_EQ(p, path("report[0000].doc"));

    std::string other = path("summary.doc");
    veldro::plan::rename_duplicates_before_copy(s_, other);
    EXPECT_EQ(other, path("summary.doc"));
}

TEST_F(DupesTest, NoDupeAndNoCaseBothApplyToTheRenamedName) {
    touch("a.txt");
    touch("A[0000].txt");
    s_.copy.flatten = 1;
    s_.copy.no_dupe = 1;
    s_.copy.no_case = 1;
    std::string p = path("a.txt");
    veldro::plan::rename_duplicates_before_copy(s_, p);
    EXPECT_EQ(p, path("a[0001].txt"));
}

TEST_F(DupesTest, TildeRuleAppendsTheTimeSuffixAndLogsBothNames) {
    touch("ABCDEF~1.TXT");
    s_.copy.check_tilde = 1;
    s_.files.dupes_log = std::tmpfile();
    veldro::platform::FindRecord entry;
    entry.name = "ABCDEF~1.TXT";
    std::string p = path("ABCDEF~1.TXT");
    veldro::plan::apply_tilde_rule(s_, p, entry);

    const std::string prefix = path("ABCDEF~1.TXT") + ".D[";
    ASSERT_EQ(p.substr(0, prefix.size()), prefix);
    ASSERT_EQ(p.size(), prefix.size() + 6);
    EXPECT_EQ(p.back(), ']');
    for (std::size_t i = prefix.size(); i < prefix.size() + 5; ++i) {
        EXPECT_TRUE(p[i] >= '0' && p[i] <= '9') << p;
    }
    EXPECT_EQ(read_all(s_.files.dupes_log), "\n" + path("ABCDEF~1.TXT") + " |RENAMED TO:| " + p + "\n");
    EXPECT_EQ(read_all(report_), "\n\nDUPE_FILE: " + path("ABCDEF~1.TXT") + " ==>   " + p + "\n");
}

TEST_F(DupesTest, TildeRuleAddsSequenceSuffixesWhileTheNameIsTaken) {
    touch("AB~1.TXT");
    s_.copy.check_tilde = 1;
    veldro::platform::FindRecord entry;
    entry.name = "AB~1.TXT";
    entry.times.last_write.ticks = 7ULL * 10000000ULL;  // 7 seconds past a minute
    // Take every name the time suffix can produce within the test's run.
    std::string first = path("AB~1.TXT");
    veldro::plan::apply_tilde_rule(s_, first, entry);
    std::ofstream(first) << "x";
    std::string second = path("AB~1.TXT");
    veldro::plan::apply_tilde_rule(s_, second, entry);
    if (second.find(".[") != std::string::npos) {
        EXPECT_EQ(second, first + ".[01_007]");
        EXPECT_EQ(s_.dupes.dupe_sequence, 2);
    } else {
        // The clock moved on between the two renames: a new time suffix.
        EXPECT_NE(second, first);
    }
}

TEST_F(DupesTest, TildeRuleLeavesOtherNamesAlone) {
    s_.copy.check_tilde = 1;
    touch("ABCDEFGH~1.TXT");
    touch("plain.txt");
    veldro::platform::FindRecord entry;

    entry.name = "ABCDEFGH~1.TXT";  // tilde only after the eighth character
    std::string p = path(entry.name);
    veldro::plan::apply_tilde_rule(s_, p, entry);
    EXPECT_EQ(p, path(entry.name));

    entry.name = "NEW~1.TXT";  // destination does not exist
    p = path(entry.name);
    veldro::plan::apply_tilde_rule(s_, p, entry);
    EXPECT_EQ(p, path(entry.name));

    EXPECT_EQ(read_all(report_), "");
}

}  // namespace
