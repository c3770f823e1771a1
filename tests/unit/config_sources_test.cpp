// Source roots and type patterns as the options add them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/run.h"
#include "test_files.h"
#include "walk/sources.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;
using veldro::walk::add_source_path;
using veldro::walk::add_type_pattern;

namespace {

class SourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("veldro_sources_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data" / "sub");
        std::ofstream(dir_ / "data" / "report.doc") << "x";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

using SourcesDeathTest = SourcesTest;

TEST_F(SourcesTest, RootsAreNormalisedAndStoredWithTheirLength) {
    OwnedRun s;
    add_source_path(s, path("data/sub/../"));
    add_source_path(s, path("data/sub"));
    EXPECT_EQ(s.paths.source_paths, (std::vector<std::string>{path("data"), path("data/sub")}));
    EXPECT_EQ(s.paths.source_root_lengths, (std::vector<std::size_t>{path("data").size(), path("data/sub").size()}));
}

TEST_F(SourcesTest, TheSameRootIsAddedOnce) {
    OwnedRun s;
    add_source_path(s, path("data"));
    add_source_path(s, path("data/./"));
    EXPECT_EQ(s.paths.source_paths.size(), 1U);
    // Roots compare without regard to case (a shadow copy is not looked up).
    s.paths.shadow_copy = 1;
    add_source_path(s, path("DATA"));
    EXPECT_EQ(s.paths.source_paths.size(), 1U);
    EXPECT_EQ(s.paths.source_root_lengths.size(), 1U);
}

TEST_F(SourcesTest, AFileBecomesItsDirectoryAndAPattern) {
    OwnedRun s;
    testing::internal::CaptureStdout();
    add_source_path(s, path("data/report.doc"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("data")});
    EXPECT_EQ(s.selection.type_list, std::vector<std::string>{"report.doc"});
    EXPECT_EQ(out,
              "\nreport.doc appears to be a file, not a folder.\nwill make the following adjustments\n"
              "source directory=" +
                  path("data") + "\nnew file added=report.doc\n");
}

TEST_F(SourcesTest, TheFileSystemRootStaysARoot) {
    OwnedRun s;
    add_source_path(s, "/");
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{"/"});
}

TEST_F(SourcesTest, ShadowCopyPathsAreNotLookedUp) {
    OwnedRun s;
    s.paths.shadow_copy = 1;
    add_source_path(s, path("snapshot/data"));
    EXPECT_EQ(s.paths.source_paths, std::vector<std::string>{path("snapshot/data")});
}

TEST_F(SourcesDeathTest, AMissingRootEndsTheRun) {
    OwnedRun s;
    EXPECT_EXIT(veldro::ending_run([&] { add_source_path(s, path("nowhere")); }), ::testing::ExitedWithCode(3), "");
}

TEST(TypePatternTest, IdenticalPatternsOnce) {
    OwnedRun s;
    add_type_pattern(s, "*.txt");
    add_type_pattern(s, "*.TXT");  // another pattern: the comparison is exact
    add_type_pattern(s, "*.txt");
    EXPECT_EQ(s.selection.type_list, (std::vector<std::string>{"*.txt", "*.TXT"}));
}

}  // namespace
