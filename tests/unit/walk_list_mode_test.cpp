// File-list and directory-list modes: line handling, destinations, the
// copy road and its counters.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plan/pipeline.h"
#include "test_files.h"
#include "util/lines.h"
#include "walk/list_mode.h"

namespace fs = std::filesystem;
using veldro::OwnedRun;
using veldro::walk::clean_dirs_list_line;
using veldro::walk::clean_file_list_line;

namespace {

std::string cleaned_file_line(std::string line, bool& more) {
    more = clean_file_list_line(line);
    return line;
}

TEST(FileListLine, CutsAtTheBarAndTrimsTheEndOnly) {
    bool more = false;
    EXPECT_EQ(cleaned_file_line("/data/a.txt | case 12 | more", more), "/data/a.txt");
    EXPECT_TRUE(more);
    EXPECT_EQ(cleaned_file_line("/data/b.txt  \t \r", more), "/data/b.txt");
    EXPECT_EQ(cleaned_file_line("  /data/c.txt", more), "  /data/c.txt");
    EXPECT_TRUE(more);
}

TEST(FileListLine, OnlyALineWithNothingLeftIsBlank) {
    bool more = true;
    cleaned_file_line("", more);
    EXPECT_FALSE(more);
    cleaned_file_line("\r", more);
    EXPECT_FALSE(more);
    cleaned_file_line("x  ", more);
    EXPECT_TRUE(more);
    cleaned_file_line("| only a note", more);
    EXPECT_FALSE(more);
    cleaned_file_line("ab", more);
    EXPECT_TRUE(more);
}

TEST(DirsListLine, TrimsCutsAndTrimsAgain) {
    std::string line = "D:\\WORK\\C7 | other text  \r";
    EXPECT_TRUE(clean_dirs_list_line(line));
    EXPECT_EQ(line, "D:\\WORK\\C7");
    line = "  /work/c7   ";
    EXPECT_TRUE(clean_dirs_list_line(line));
    EXPECT_EQ(line, "  /work/c7");
}

TEST(DirsListLine, ShortLinesEndTheListButABarOnlyLineDoesNot) {
    std::string line = "a";  // two bytes with its line end
    EXPECT_FALSE(clean_dirs_list_line(line));
    line.clear();
    EXPECT_FALSE(clean_dirs_list_line(line));
    line = "  | nothing before the bar";
    EXPECT_TRUE(clean_dirs_list_line(line));
    EXPECT_EQ(line, "");
}

TEST(ListedFileDestination, RepeatsTheSourcePathBelowTheDestination) {
    using veldro::paths::Style;
    using veldro::plan::listed_file_destination_dir;
    EXPECT_EQ(listed_file_destination_dir("/mnt/copy", "/data/sub/a.txt", Style::posix), "/mnt/copy/data/sub/");
    EXPECT_EQ(listed_file_destination_dir("/mnt/copy/", "/data/sub/a.txt", Style::posix), "/mnt/copy/data/sub/");
    EXPECT_EQ(listed_file_destination_dir("/mnt/copy", "/a.txt", Style::posix), "/mnt/copy/");
    EXPECT_EQ(listed_file_destination_dir("\\\\?\\E:\\OUT", "\\\\?\\C:\\DATA\\SUB\\a.txt", Style::windows),
              "\\\\?\\E:\\OUT\\DATA\\SUB\\");
    EXPECT_EQ(listed_file_destination_dir("\\\\?\\E:\\OUT\\", "\\\\?\\C:\\a.txt", Style::windows), "\\\\?\\E:\\OUT\\");
}

TEST(ListReader, LinesOfAnyLengthEndOnlyAtLineFeeds) {
    std::FILE* f = std::tmpfile();
    const std::string long_line(20000, 'x');
    const std::string text = long_line + "\n*.doc" + std::string(1, '\0') + "\n*.txt\r\nlast";
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    veldro::util::ListReader lines(f, "the test list");
    std::string line;
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, long_line);
    // The line holding a NUL is left out; the next one is read whole.
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, "*.txt");
    EXPECT_EQ(lines.line_number(), 3);
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(lines.next(line));
    std::fclose(f);
}

class ListModeTree : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("veldro_list_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                 std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "src" / "sub");
        fs::create_directories(root_ / "out");
        write(root_ / "src" / "a.txt", "alpha");
        write(root_ / "src" / "sub" / "b.txt", "bravo!");
        s_.paths.dest_path = (root_ / "out").string();
        s_.files.error_stream = stderr;
    }
    void TearDown() override {
        for (std::FILE* f : {s_.files.copied_log, s_.files.not_copied_log, s_.files.list_log}) {
            if (f != nullptr) {
                std::fclose(f);
            }
        }
        fs::remove_all(root_);
    }
    static void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
    static std::string read(std::FILE* f) { return veldro::test::read_stream(f); }
    std::string src(const std::string& rel) const { return (root_ / "src" / rel).string(); }
    fs::path copy_of(const std::string& rel) const { return root_ / "out" / fs::path(src(rel)).relative_path(); }
    int run_list(const std::string& text) {
        s_.files.list_file = std::tmpfile();
        std::fputs(text.c_str(), s_.files.list_file);
        std::rewind(s_.files.list_file);
        const int copies = veldro::walk::run_file_list(s_);
        std::fclose(s_.files.list_file);
        s_.files.list_file = nullptr;
        return copies;
    }

    fs::path root_;
    OwnedRun s_;
};

TEST_F(ListModeTree, CopiesEachListedFileBelowTheDestinationUnderItsOwnPath) {
    const int copies = run_list(src("a.txt") + " | note\r\n" + src("sub/b.txt") + "   \r\n");
    EXPECT_EQ(copies, 2);
    std::stringstream a;
    a << std::ifstream(copy_of("a.txt")).rdbuf();
    EXPECT_EQ(a.str(), "alpha");
    EXPECT_TRUE(fs::exists(copy_of("sub/b.txt")));
    EXPECT_EQ(s_.counters.files_copied, 2);
    EXPECT_EQ(s_.counters.files_processed, 2);
    EXPECT_EQ(s_.counters.bytes_copied, 11);
    EXPECT_EQ(s_.counters.bytes_processed, 11);
    EXPECT_EQ(fs::last_write_time(copy_of("a.txt")), fs::last_write_time(src("a.txt")));
}

TEST_F(ListModeTree, ALineClimbingWithDotDotStaysInsideTheDestination) {
    // The line names src/a.txt through a detour above the source tree.
    const std::string climbing = src("sub") + "/../../src/a.txt";
    EXPECT_EQ(run_list(climbing + "\n"), 1);
    EXPECT_TRUE(fs::exists(copy_of("a.txt")));
    for (const auto& entry : fs::recursive_directory_iterator(root_ / "out")) {
        EXPECT_EQ(entry.path().string().find(".."), std::string::npos) << entry.path();
    }
}

TEST_F(ListModeTree, BlankLinesEndNothingAndAreCounted) {
    EXPECT_EQ(run_list(src("a.txt") + "\n\n  \r\n" + src("sub/b.txt") + "\n"), 2);
    EXPECT_TRUE(fs::exists(copy_of("sub/b.txt")));
    EXPECT_EQ(s_.counters.list_blank_lines, 2);
}

TEST_F(ListModeTree, MissingFilesAreCountedOnlyWithTheNotCopiedLog) {
    EXPECT_EQ(run_list(src("gone/nothing.txt") + "\n"), 0);
    EXPECT_EQ(s_.counters.files_not_processed, 0);
    EXPECT_FALSE(fs::exists(copy_of("gone")));  // no directory made for it

    s_.files.not_copied_log = std::tmpfile();
    EXPECT_EQ(run_list(src("nothing.txt") + "\n"), 0);
    EXPECT_EQ(s_.counters.files_not_processed, 1);
    EXPECT_EQ(read(s_.files.not_copied_log), "\n" + src("nothing.txt") + "| Not Copied: Reason: File NOT LOCATED");
    EXPECT_EQ(s_.counters.copy_failures, 0);
}

TEST_F(ListModeTree, ADirectoryLineIsPassedOver) {
    s_.files.list_log = std::tmpfile();
    EXPECT_EQ(run_list(src("sub") + "\n" + src("a.txt") + "\n"), 1);
    EXPECT_EQ(read(s_.files.list_log), "\n" + src("a.txt") + "|");
}

TEST_F(ListModeTree, TestModeRecordsLocatedFilesAndCopiesNothing) {
    s_.paths.test_mode = 1;
    s_.files.copied_log = std::tmpfile();
    s_.files.not_copied_log = std::tmpfile();
    EXPECT_EQ(run_list(src("a.txt") + "\n" + src("gone.txt") + "\n"), 0);
    EXPECT_FALSE(fs::exists(copy_of("a.txt")));
    EXPECT_TRUE(fs::is_directory(copy_of("a.txt").parent_path())) << "the directories are still made";
    EXPECT_EQ(read(s_.files.copied_log), "\n" + src("a.txt") + "|");
    EXPECT_NE(read(s_.files.not_copied_log).find(src("gone.txt")), std::string::npos);
    EXPECT_EQ(s_.counters.files_copied, 0);
}

TEST_F(ListModeTree, CopiedLogLineCarriesSizeAndTwoDates) {
    s_.files.copied_log = std::tmpfile();
    s_.logs.zulu_time = 1;
    run_list(src("a.txt") + "\n");
    const std::string line = read(s_.files.copied_log);
    ASSERT_EQ(line.rfind("\n" + src("a.txt") + "| 5|", 0), 0U) << line;
    // yyyy/mm/dd|hh:mm:ssc| then the same with m
    const std::string dates = line.substr(src("a.txt").size() + 5);
    ASSERT_EQ(dates.size(), 42U) << dates;
    EXPECT_EQ(dates[19], 'c');
    EXPECT_EQ(dates[40], 'm');
    EXPECT_EQ(dates.back(), '|');
}

TEST_F(ListModeTree, CriteriaExcludeBySize) {
    s_.selection.greater_select = 1;
    s_.selection.greater_size = 6;
    EXPECT_EQ(run_list(src("a.txt") + "\n" + src("sub/b.txt") + "\n"), 1);
    EXPECT_FALSE(fs::exists(copy_of("a.txt")));
    EXPECT_TRUE(fs::exists(copy_of("sub/b.txt")));
}

TEST_F(ListModeTree, ExclusionPatternsApplyToTheFileName) {
    s_.selection.exclude_mode = 1;
    s_.selection.exclude_list.push_back("B.TXT");
    EXPECT_EQ(run_list(src("a.txt") + "\n" + src("sub/b.txt") + "\n"), 1);
    EXPECT_FALSE(fs::exists(copy_of("sub/b.txt")));
}

TEST_F(ListModeTree, MatchingDigestsAreNoFailure) {
    s_.hashing.hash_both();
    EXPECT_EQ(run_list(src("a.txt") + "\n"), 1);
    EXPECT_EQ(s_.counters.hash_mismatches, 0);
    EXPECT_EQ(s_.counters.copy_failures, 0);
}

TEST_F(ListModeTree, SourceAndDestinationBitsTogetherHashBothSidesWithoutAVerdict) {
    // An INI "HASH=S" followed by -hd= on the command line.
    s_.hashing.hash_sources = true;
    s_.hashing.hash_copies = true;
    s_.files.hash_log = std::tmpfile();
    EXPECT_EQ(run_list(src("a.txt") + "\n"), 1);
    const std::string log = read(s_.files.hash_log);
    std::fclose(s_.files.hash_log);
    s_.files.hash_log = nullptr;
    const std::string md5_alpha = "2C1743A391305FBF367DF8E4F069F9F9";
    EXPECT_EQ(log,
              "\n\n" + src("a.txt") + "  " + md5_alpha + " \n" + copy_of("a.txt").string() + "  " + md5_alpha + " ");
    EXPECT_EQ(s_.counters.hash_mismatches, 0);
}

TEST_F(ListModeTree, ACopyThatFailsIsCountedAsAFailure) {
    // A directory stands where the copy should go.
    fs::create_directories(copy_of("a.txt"));
    s_.files.not_copied_log = std::tmpfile();
    EXPECT_EQ(run_list(src("a.txt") + "\n"), 0);
    EXPECT_EQ(s_.counters.copy_failures, 1);
    EXPECT_EQ(s_.counters.files_copied, 0);
    const std::string log = read(s_.files.not_copied_log);
    EXPECT_NE(log.find("| NOT COPIED to "), std::string::npos) << log;
    EXPECT_NE(log.find("| NOT COPIED: Reason: Destination is folder"), std::string::npos) << log;
}

class DirsList : public ListModeTree {
protected:
    void read_list(const std::string& text) {
        std::FILE* f = std::tmpfile();
        std::fputs(text.c_str(), f);
        std::rewind(f);
        veldro::walk::read_dirs_list(s_, f);  // closes the file
    }
};

TEST_F(DirsList, AddsExistingDirectoriesAsNormalisedRootsAfterTheGivenOnes) {
    s_.paths.source_paths.push_back("/given");
    s_.paths.source_root_lengths.push_back(6);
    read_list(src("sub") + " | other text\n" + src("missing") + "\n" + src("a.txt") + "\n" + src("sub") +
              "/../sub/\r\n" + "x\n" + src(""));
    ASSERT_EQ(s_.paths.source_paths.size(), 3U);
    EXPECT_EQ(s_.paths.source_paths[0], "/given");
    EXPECT_EQ(s_.paths.source_paths[1], src("sub"));
    EXPECT_EQ(s_.paths.source_paths[2], src("sub")) << "no duplicate check, but normalised";
    ASSERT_EQ(s_.paths.source_root_lengths.size(), 3U);
    EXPECT_EQ(s_.paths.source_root_lengths[1], src("sub").size()) << "the length of the root as stored";
}

TEST_F(DirsList, AFileWithoutLinesAddsNothing) {
    read_list("");
    EXPECT_TRUE(s_.paths.source_paths.empty());
    read_list("  | nothing but a note\n");
    EXPECT_TRUE(s_.paths.source_paths.empty()) << "an empty path must not become the working directory";
}

}  // namespace
