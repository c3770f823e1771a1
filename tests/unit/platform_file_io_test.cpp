#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
