#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <system_error>

#include "platform/file_io.h"
#include "platform/fs.h"
#include "platform/system.h"

namespace veldro::platform {
namespace {

std::string scratch_name(const char* tag) {
    return "/tmp/veldro-fileio-" + std::string(tag) + "-" + std::to_string(::getpid());
}

TEST(FileIo, ReadsWhatWasWritten) {
    const std::string name = scratch_name("rw");
    {
        FileHandle out;
        ASSERT_FALSE(create_for_write(name, out));
        ASSERT_FALSE(write_all(out, "evidence", 8));
        ASSERT_FALSE(out.close());
    }
    FileHandle in;
    ASSERT_FALSE(open_for_read(name, ReadShare::deny_writers, in));
    char buffer[16] = {};
    std::size_t got = 99;
    EXPECT_FALSE(read_some(in, buffer, sizeof(buffer), got));
    EXPECT_EQ(got, 8U);
    EXPECT_FALSE(read_some(in, buffer, sizeof(buffer), got));
    EXPECT_EQ(got, 0U);
    EXPECT_EQ(std::string(buffer, 8), "evidence");
    std::remove(name.c_str());
}

// Every failure carries the system's own reason, and nothing is opened.
TEST(FileIo, FailuresCarryTheSystemsReason) {
    const std::string dir = scratch_name("reasons");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string file = dir + "/file";
    const std::string link = dir + "/link";
    const std::string fifo = dir + "/fifo";
    const std::string missing = dir + "/missing";
    ASSERT_EQ(std::system(("echo x > " + file).c_str()), 0);
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string too_long = dir + "/" + std::string(300, 'n');
    FileHandle handle;
    FindRecord record;
    std::string temp;
    bool creation_set = false;
    struct Case {
        const char* what;
        std::function<std::error_code()> call;
        std::errc reason;
    };
    const Case cases[] = {
        {"open missing", [&] { return open_for_read(missing, ReadShare::permissive, handle); },
         std::errc::no_such_file_or_directory},
        {"open through a link", [&] { return open_for_read(link, ReadShare::permissive, handle); },
         std::errc::too_many_symbolic_link_levels},
        {"open a FIFO", [&] { return open_for_read(fifo, ReadShare::permissive, handle); },
         std::errc::invalid_argument},
        {"source through a link", [&] { return open_source_file(link, handle); },
         std::errc::too_many_symbolic_link_levels},
        {"create below a file", [&] { return create_for_write(file + "/x", handle); }, std::errc::not_a_directory},
        {"create through a link", [&] { return create_for_write(link, handle); },
         std::errc::too_many_symbolic_link_levels},
        {"temporary below a file", [&] { return create_temporary_beside(file + "/x", temp, handle); },
         std::errc::not_a_directory},
        {"look up missing", [&] { return lookup_path(missing, record); }, std::errc::no_such_file_or_directory},
        {"times of missing", [&] { return set_times(missing, FileTimeSet{}, creation_set); },
         std::errc::no_such_file_or_directory},
        {"directory that exists", [&] { return make_directory(dir); }, std::errc::file_exists},
        {"directory name too long", [&] { return make_directory(too_long); }, std::errc::filename_too_long},
        {"directory below a file", [&] { return create_directory(file + "/d"); }, std::errc::not_a_directory},
        {"remove missing", [&] { return remove_file(missing); }, std::errc::no_such_file_or_directory},
        {"rename missing", [&] { return rename_over(missing, file); }, std::errc::no_such_file_or_directory},
        {"copy below a file", [&] { return copy_whole_file(file, file + "/x"); }, std::errc::not_a_directory},
        {"copy a missing link", [&] { return copy_symbolic_link(missing, dir + "/copy"); },
         std::errc::no_such_file_or_directory},
        {"search a file",
         [&] {
             DirectorySearch search;
             return search.open(file, "*");
         },
         std::errc::not_a_directory},
    };
    for (const Case& c : cases) {
        const std::error_code error = c.call();
        EXPECT_EQ(error, std::make_error_code(c.reason)) << c.what << ": " << error.message();
        EXPECT_FALSE(handle.valid()) << c.what;
    }
    EXPECT_EQ(error_text(std::make_error_code(std::errc::not_a_directory)), "Not a directory");
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

// Below the destination root a directory is kept open from one look-up to
// the next; ".." after it must not reach the directory above the root.
TEST(FileIo, AConfinedDotDotNeverClimbsOutOfTheRoot) {
    const std::string root = scratch_name("confined");
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(std::system(("echo x > " + root + "/a").c_str()), 0);
    confine_writes_below(root);
    FindRecord record;
    EXPECT_FALSE(lookup_path(root + "/a", record));  // keeps the root open
    for (const std::string& path : {root + "/..", root + "/a/..", root + "/."}) {
        bool creation_set = false;
        EXPECT_TRUE(lookup_path(path, record)) << path;
        EXPECT_TRUE(set_times(path, FileTimeSet{}, creation_set)) << path;
    }
    confine_writes_below("");
    ASSERT_EQ(std::system(("rm -rf " + root).c_str()), 0);
}

TEST(FileIo, LinksAreNotFollowed) {
    const std::string target = scratch_name("target");
    const std::string link = scratch_name("link");
    {
        FileHandle out;
        ASSERT_FALSE(create_for_write(target, out));
    }
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    FileHandle in;
    EXPECT_TRUE(open_for_read(link, ReadShare::permissive, in));
    EXPECT_FALSE(in.valid());
    std::remove(link.c_str());
    std::remove(target.c_str());
}

}  // namespace
}  // namespace veldro::platform

namespace veldro::platform {
namespace {

// Builds a chain of directories deeper than PATH_MAX one level at a time
// (relative to the working directory) and returns the file's full path.
std::string make_deep_file(const std::string& top, const std::string& content) {
    const std::string piece(200, 'd');
    std::string path = top;
    char saved[4096];
    EXPECT_NE(::getcwd(saved, sizeof saved), nullptr);
    EXPECT_EQ(::mkdir(top.c_str(), 0700), 0);
    EXPECT_EQ(::chdir(top.c_str()), 0);
    for (int level = 0; level < 25; ++level) {
        EXPECT_EQ(::mkdir(piece.c_str(), 0700), 0);
        EXPECT_EQ(::chdir(piece.c_str()), 0);
        path += "/" + piece;
    }
    std::FILE* f = std::fopen("deep.txt", "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    EXPECT_EQ(::chdir(saved), 0);
    return path + "/deep.txt";
}

TEST(FileIo, ReadsFilesBeyondThePathLimit) {
    const std::string top = scratch_name("deep");
    const std::string path = make_deep_file(top, "deep evidence");
    ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
    FileHandle in;
    ASSERT_FALSE(open_for_read(path, ReadShare::permissive, in));
    char buffer[32] = {};
    std::size_t got = 0;
    EXPECT_FALSE(read_some(in, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 13U);
    EXPECT_EQ(std::string(buffer, 13), "deep evidence");
    EXPECT_FALSE(in.close());
    EXPECT_EQ(std::system(("rm -rf " + top).c_str()), 0);
}

}  // namespace
}  // namespace veldro::platform
