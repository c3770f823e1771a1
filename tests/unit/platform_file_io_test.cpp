#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_io.h"

namespace veldro::platform {
namespace {

std::string scratch_name(const char* tag) {
    return "/tmp/veldro-fileio-" + std::string(tag) + "-" + std::to_string(::getpid());
}

TEST(FileIo, ReadsWhatWasWritten) {
    const std::string name = scratch_name("rw");
    {
        FileHandle out = create_for_write(name);
        ASSERT_TRUE(out.valid());
        ASSERT_TRUE(write_all(out, "evidence", 8));
        ASSERT_TRUE(out.close());
    }
    FileHandle in = open_for_read(name, ReadShare::deny_writers);
    ASSERT_TRUE(in.valid());
    char buffer[16] = {};
    EXPECT_EQ(read_some(in, buffer, sizeof(buffer)), 8);
    EXPECT_EQ(read_some(in, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(std::string(buffer, 8), "evidence");
    std::remove(name.c_str());
}

TEST(FileIo, FifoIsRefusedInsteadOfHanging) {
    const std::string name = scratch_name("fifo");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    FileHandle in = open_for_read(name, ReadShare::permissive);
    EXPECT_FALSE(in.valid());
    std::remove(name.c_str());
}

TEST(FileIo, LinksAreNotFollowed) {
    const std::string target = scratch_name("target");
    const std::string link = scratch_name("link");
    {
        FileHandle out = create_for_write(target);
        ASSERT_TRUE(out.valid());
    }
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(open_for_read(link, ReadShare::permissive).valid());
    EXPECT_FALSE(create_for_write(link).valid());
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
    FileHandle in = open_for_read(path, ReadShare::permissive);
    ASSERT_TRUE(in.valid());
    char buffer[32] = {};
    EXPECT_EQ(read_some(in, buffer, sizeof buffer), 13);
    EXPECT_EQ(std::string(buffer, 13), "deep evidence");
    in.close();
    EXPECT_EQ(std::system(("rm -rf " + top).c_str()), 0);
}

}  // namespace
}  // namespace veldro::platform
