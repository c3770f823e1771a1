// Destination paths: the directory a file lands in, the directories made on
// the way, and the refusal to write through a link in the destination.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "plan/destination.h"
#include "record/file_record.h"
#include "run/run.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;

namespace {

TEST(CopyDestinationPath, RepeatsTheDirectoryBelowTheSourceRoot) {
    OwnedRun s;
    s.paths.dest_path = "/out";
    s.engine.current_root_length = std::string("/data").size();
    std::string dir;
    veldro::plan::destination_dir_for(s, "/data/sub/x/", dir);
    EXPECT_EQ(dir, "/out/sub/x/");
    // A file in the root itself lands in the destination root.
    veldro::plan::destination_dir_for(s, "/data/", dir);
    EXPECT_EQ(dir, "/out/");
    // A destination given with a trailing separator gives the same paths.
    s.paths.dest_path = "/out/";
    veldro::plan::destination_dir_for(s, "/data/sub/", dir);
    EXPECT_EQ(dir, "/out/sub/");
}

TEST(CopyDestinationPath, RootOfTheFileSystemAsSourceOrDestination) {
    OwnedRun s;
    s.paths.dest_path = "/";
    s.engine.current_root_length = 1;  // the root "/" as stored
    std::string dir;
    veldro::plan::destination_dir_for(s, "/etc/ssh/", dir);
    EXPECT_EQ(dir, "/etc/ssh/");
    s.paths.dest_path = "/backup";
    veldro::plan::destination_dir_for(s, "/etc/ssh/", dir);
    EXPECT_EQ(dir, "/backup/etc/ssh/");
}

TEST(CopyDestinationPath, FlatCopiesIgnoreTheSourceDirectory) {
    OwnedRun s;
    s.paths.dest_path = "/out";
    s.engine.current_root_length = 5;
    s.copy.flatten = 1;
    std::string dir;
    veldro::plan::destination_dir_for(s, "/data/deep/er/", dir);
    EXPECT_EQ(dir, "/out/");
}

class CopyDestinationDisk : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veldro_dest_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "src");
        report_ = std::tmpfile();
        s_.files.report_stream = report_;
        s_.paths.dest_path = (dir_ / "out").string();
        s_.engine.current_root_length = (dir_ / "src").string().size();
    }
    void TearDown() override {
        std::fclose(report_);
        fs::remove_all(dir_);
    }
    std::string report_text() {
        std::fflush(report_);
        std::rewind(report_);
        std::string text;
        char buf[512];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, report_)) > 0) {
            text.append(buf, n);
        }
        return text;
    }
    std::string src(const std::string& rel) const { return (dir_ / "src").string() + "/" + rel; }
    std::string out(const std::string& rel) const { return (dir_ / "out").string() + "/" + rel; }

    fs::path dir_;
    std::FILE* report_ = nullptr;
    OwnedRun s_;
};

TEST_F(CopyDestinationDisk, MakesEachMissingDirectoryOutermostFirst) {
    ASSERT_FALSE(veldro::plan::build_destination_path(s_, src("a/b/c/"), "f.txt"));
    EXPECT_EQ(s_.engine.destination_file_path, out("a/b/c/f.txt"));
    EXPECT_TRUE(fs::is_directory(out("a/b/c")));
    const std::string text = report_text();
    const std::string first = "\n Directory " + (dir_ / "out").string() + " created\n\n";
    const std::size_t p0 = text.find(first);
    const std::size_t p1 = text.find("\n Directory " + out("a") + " created\n\n");
    const std::size_t p2 = text.find("\n Directory " + out("a/b") + " created\n\n");
    const std::size_t p3 = text.find("\n Directory " + out("a/b/c") + " created\n\n");
    ASSERT_NE(p0, std::string::npos) << text;
    ASSERT_NE(p3, std::string::npos) << text;
    EXPECT_LT(p0, p1);
    EXPECT_LT(p1, p2);
    EXPECT_LT(p2, p3);
    // The next file of the same directory makes and says nothing.
    ASSERT_FALSE(veldro::plan::build_destination_path(s_, src("a/b/c/"), "g.txt"));
    EXPECT_EQ(report_text(), text);
}

TEST_F(CopyDestinationDisk, TheRootItselfMayBeALink) {
    fs::create_directories(dir_ / "real");
    fs::create_directory_symlink(dir_ / "real", dir_ / "out");
    EXPECT_FALSE(veldro::plan::build_destination_path(s_, src("a/"), "f.txt"));
    EXPECT_TRUE(fs::is_directory(dir_ / "real" / "a"));
}

TEST_F(CopyDestinationDisk, MaintainedDatesStampTheDirectoriesMade) {
    s_.paths.maintain_dir_dates = true;
    fs::create_directories(dir_ / "src" / "a");
    fs::last_write_time(dir_ / "src" / "a", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    ASSERT_TRUE(veldro::plan::capture_directory_times(s_, src("a/")));
    ASSERT_FALSE(veldro::plan::build_destination_path(s_, src("a/"), "f.txt"));
    EXPECT_EQ(fs::last_write_time(out("a")), fs::last_write_time(dir_ / "src" / "a"));
}

TEST_F(CopyDestinationDisk, ChainRepeatsSourceDirectoriesWithTheirTimes) {
    // A destination that repeats the source's absolute path (as -D makes
    // it): every directory from the first shared name down takes its
    // source's times, and names keep their case.
    const fs::path source_dir = dir_ / "src" / "Case" / "Deep";
    fs::create_directories(source_dir);
    const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(24 * 900);
    fs::last_write_time(dir_ / "src" / "Case", old_time);
    fs::last_write_time(source_dir, old_time + std::chrono::hours(1));
    const std::string dest_root = (dir_ / "out").string() + (dir_ / "src").string();
    veldro::plan::maintain_directory_chain(s_, source_dir.string() + "/", dest_root, (dir_ / "src").string());
    const fs::path made = fs::path(dest_root) / "Case" / "Deep";
    ASSERT_TRUE(fs::is_directory(made));
    EXPECT_EQ(fs::last_write_time(fs::path(dest_root) / "Case"), old_time);
    EXPECT_EQ(fs::last_write_time(made), old_time + std::chrono::hours(1));
}

}  // namespace
