// Directory search, look-ups and the two ways of copying a file: complete
// copies or nothing, on paths of any length.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "hash/file_digest.h"
#include "platform/file_system.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "run/run.h"
#include "test_files.h"
#include "work/data_copy.h"

namespace fs = std::filesystem;
using veldro::platform::EntryKind;
using veldro::platform::FindRecord;

namespace {

class CopyDataTest : public ::testing::Test {
protected:
    veldro::platform::NativeFileSystem native;
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veldro_data_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));  // builds on the same machine run the same tests at once
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        // rm copes with trees deeper than the path limit, which the
        // library's own removal does not.
        const std::string command =
            "chmod -R u+rwx '" + dir_.string() + "' 2>/dev/null; rm -rf '" + dir_.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string path(const std::string& rel) const { return (dir_ / rel).string(); }
    void write(const std::string& rel, const std::string& data) const { veldro::test::write_file(dir_ / rel, data); }
    std::string read(const std::string& rel) const { return veldro::test::read_file(dir_ / rel); }
    // Names in the directory other than the ones given: leftovers.
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            out.insert(entry.path().filename().string());
        }
        return out;
    }
    fs::path dir_;
};

TEST_F(CopyDataTest, SearchMatchesPatternsIgnoringCase) {
    write("Report.TXT", "a");
    write("notes.txt", "b");
    write("README", "c");
    fs::create_directory(dir_ / "sub.txt");
    auto found = [&](const std::string& pattern) {
        std::set<std::string> out;
        veldro::platform::DirectorySearch search;
        if (search.open(dir_.string() + "/", pattern)) {
            return out;
        }
        FindRecord r;
        while (search.next(r)) {
            out.insert(r.name);
        }
        return out;
    };
    EXPECT_EQ(found("*.txt"), (std::set<std::string>{"Report.TXT", "notes.txt", "sub.txt"}));
    EXPECT_EQ(found("*.*"), (std::set<std::string>{"Report.TXT", "notes.txt", "README", "sub.txt"}));
    EXPECT_EQ(found("report.txt"), (std::set<std::string>{"Report.TXT"}));
    EXPECT_EQ(found("?????.txt"), (std::set<std::string>{"notes.txt"}));
    EXPECT_TRUE(found("*.doc").empty());
    veldro::platform::DirectorySearch search;
    EXPECT_TRUE(search.open(path("missing/"), "*"));
}

TEST_F(CopyDataTest, EntriesTellTheirKindWithoutFollowingLinks) {
    write("file", "12345");
    fs::create_directory(dir_ / "dir");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    fs::create_directory_symlink(dir_, dir_ / "loop");
    std::map<std::string, FindRecord> seen;
    veldro::platform::DirectorySearch search;
    ASSERT_FALSE(search.open(dir_.string(), "*"));
    FindRecord r;
    while (search.next(r)) {
        seen[r.name] = r;
    }
    ASSERT_EQ(seen.size(), 4U);
    EXPECT_EQ(seen["file"].kind, EntryKind::regular);
    EXPECT_EQ(seen["file"].size, 5U);
    EXPECT_EQ(seen["dir"].kind, EntryKind::directory);
    EXPECT_NE(seen["dir"].attributes & veldro::platform::attr_directory, 0U);
    EXPECT_EQ(seen["fifo"].kind, EntryKind::special);
    EXPECT_EQ(seen["loop"].kind, EntryKind::symlink);
    EXPECT_EQ(seen["loop"].attributes & veldro::platform::attr_directory, 0U);

    FindRecord one;
    ASSERT_FALSE(veldro::platform::lookup_path(path("loop"), one));
    EXPECT_EQ(one.kind, EntryKind::symlink);
    EXPECT_EQ(one.name, "loop");
    EXPECT_TRUE(veldro::platform::lookup_path(path("none"), one));
    write(".hidden", "");
    ASSERT_FALSE(veldro::platform::lookup_path(path(".hidden"), one));
    EXPECT_NE(one.attributes & veldro::platform::attr_hidden, 0U);
}

TEST_F(CopyDataTest, PlatformCopyCarriesDataModeTimesAndStreams) {
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 31 % 251);
    }
    write("src", data);
    ::chmod(path("src").c_str(), 0640);
    const bool xattrs = ::setxattr(path("src").c_str(), "user.stream", "value", 5, 0) == 0;
    const timespec ts[2] = {{1500000000, 123456789}, {1400000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path("src").c_str(), ts, 0), 0);

    ASSERT_FALSE(veldro::platform::copy_whole_file(path("src"), path("dst")));
    EXPECT_EQ(read("dst"), data);
    struct stat st {};
    ASSERT_EQ(::stat(path("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    EXPECT_EQ(st.st_mtim.tv_sec, 1400000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    if (xattrs) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(path("dst").c_str(), "user.stream", value, sizeof value), 5);
        EXPECT_EQ(std::string(value), "value");
    }
    // Reading the source did not move its last-access time.
    ASSERT_EQ(::stat(path("src").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1500000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 123456789);
    EXPECT_EQ(names(), (std::set<std::string>{"src", "dst"}));
}

TEST_F(CopyDataTest, BothWaysReplaceAnExistingCopyAndHandleEmptyFiles) {
    write("src", "new contents");
    write("dst", "old");
    ASSERT_FALSE(veldro::platform::copy_whole_file(path("src"), path("dst")));
    EXPECT_EQ(read("dst"), "new contents");
    write("empty", "");
    write("dst2", "old");
    EXPECT_FALSE(veldro::work::copy_file_data(native, path("empty"), path("dst2")));
    EXPECT_EQ(read("dst2"), "");
    EXPECT_EQ(names(), (std::set<std::string>{"src", "dst", "empty", "dst2"}));
}

TEST_F(CopyDataTest, BothWaysKeepHolesAndTheDigestIsOfTheWholeContent) {
    constexpr off_t mib = 1 << 20;
    struct Layout {
        std::vector<off_t> blocks;  // 4 KiB of data at each
        off_t size;
    };
    const Layout layouts[] = {
        {{0, 8 * mib, 16 * mib - 4096}, 16 * mib},  // data at both ends
        {{2 * mib}, 16 * mib},                      // holes before and after
        {{}, 16 * mib},                             // nothing but a hole
    };
    for (const Layout& layout : layouts) {
        const int fd = ::open(path("sparse").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'D');
        for (const off_t at : layout.blocks) {
            ASSERT_EQ(::pwrite(fd, block.data(), block.size(), at), 4096);
        }
        ASSERT_EQ(::ftruncate(fd, layout.size), 0);
        ::close(fd);
        const std::string content = read("sparse");
        veldro::hash::HashSet whole;
        veldro::hash::DigestFeed memory;
        memory.start({});
        memory.add(reinterpret_cast<const unsigned char*>(content.data()), content.size());
        memory.finish(whole);
        veldro::hash::HashSet read_back;
        veldro::hash::DigestReader reader;
        ASSERT_EQ(reader.hash_file(path("sparse"), {}, read_back), veldro::hash::DigestStatus::ok);
        EXPECT_STREQ(read_back.md5.data(), whole.md5.data());

        ASSERT_FALSE(veldro::platform::copy_whole_file(path("sparse"), path("kernel")));
        ASSERT_FALSE(veldro::work::copy_file_data(native, path("sparse"), path("buffered")));
        // Copies that hash what they write: the zeros of the holes are fed.
        veldro::hash::DigestFeed digests;
        veldro::platform::CopyFeed feed;
        feed.take = &veldro::hash::DigestFeed::take;
        feed.context = &digests;
        // The system's copy also reads a large copy back as it makes it, on
        // the partner thread; the program's own copy leaves that to later.
        veldro::hash::DigestFeed copy_digests;
        feed.take_copy = feed.take;
        feed.copy_context = &copy_digests;
        veldro::platform::CopyReadBack partner;
        feed.read_back = &partner;
        for (const char* copy : {"kernel_fed", "buffered_fed", "kernel_read_back"}) {
            const std::string name = copy;
            digests.start({});
            copy_digests.start({});
            feed.source_changed = true;
            feed.copy_read_back = name == "buffered_fed";
            veldro::platform::CopyFeed only_read_back;
            only_read_back.take_copy = feed.take_copy;
            only_read_back.copy_context = &copy_digests;
            only_read_back.read_back = &partner;
            veldro::platform::CopyFeed& used = name == "kernel_read_back" ? only_read_back : feed;
            const bool copied =
                name == "buffered_fed"
                    ? veldro::work::copy_file_data(native, path("sparse"), path(copy), false, &used) ==
                          std::error_code()
                    : veldro::platform::copy_whole_file(path("sparse"), path(copy), false, &used) == std::error_code();
            ASSERT_TRUE(copied) << copy;
            veldro::hash::HashSet fed;
            if (name != "kernel_read_back") {
                digests.finish(fed);
                EXPECT_STREQ(fed.md5.data(), whole.md5.data()) << copy;
                EXPECT_FALSE(feed.source_changed) << copy;
            }
            EXPECT_EQ(used.copy_read_back, name != "buffered_fed") << copy;
            if (used.copy_read_back) {
                copy_digests.finish(fed);
                EXPECT_STREQ(fed.md5.data(), whole.md5.data()) << copy;
            }
        }
        for (const char* copy : {"kernel", "buffered", "kernel_fed", "buffered_fed", "kernel_read_back"}) {
            struct stat st {};
            ASSERT_EQ(::stat(path(copy).c_str(), &st), 0);
            EXPECT_EQ(st.st_size, layout.size) << copy;
            EXPECT_LE(st.st_blocks * 512, static_cast<off_t>(layout.blocks.size() + 1) * 64 * 1024) << copy;
            EXPECT_TRUE(read(copy) == content) << copy;
        }
    }
}

TEST_F(CopyDataTest, TheCopyReadBackBesideTheSourceOnOneThread) {
    // Each piece of a large copy is read back as it is written and hashed
    // beside the source's piece; a small copy is read back in one read once
    // it has its name; one in between is left to be read by its name. The
    // source's digest is the content's either way. With a partner thread,
    // the large copy's pieces are hashed there while the next is copied.
    veldro::platform::CopyReadBack partner;
    for (const auto& [size, read_back, with_partner] :
         {std::tuple{std::size_t{0}, true, false}, std::tuple{std::size_t{65603}, true, true},
          std::tuple{std::size_t{512} << 10U, true, false}, std::tuple{(std::size_t{512} << 10U) + 1, false, true},
          std::tuple{std::size_t{4} << 20U, true, false}, std::tuple{(std::size_t{9} << 20U) + 17, true, false},
          std::tuple{(std::size_t{9} << 20U) + 17, true, true}}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>(i * 7 + i / 4096);
        }
        write("src", content);
        veldro::hash::HashSet whole;
        veldro::hash::DigestFeed memory;
        memory.start({});
        memory.add(reinterpret_cast<const unsigned char*>(content.data()), content.size());
        memory.finish(whole);
        veldro::hash::DigestFeed source_digests;
        veldro::hash::DigestFeed copy_digests;
        source_digests.start({});
        copy_digests.start({});
        veldro::platform::CopyFeed feed;
        feed.take = &veldro::hash::DigestFeed::take;
        feed.context = &source_digests;
        feed.take_copy = &veldro::hash::DigestFeed::take;
        feed.copy_context = &copy_digests;
        feed.take_both = &veldro::hash::DigestFeed::take_both;
        feed.read_back = with_partner ? &partner : nullptr;
        ASSERT_FALSE(veldro::platform::copy_whole_file(path("src"), path("dst"), false, &feed)) << size;
        // Read back (before the test reads it) without moving the last-access time it took from its source.
        struct stat source_st {};
        struct stat copy_st {};
        ASSERT_EQ(::stat(path("src").c_str(), &source_st), 0);
        ASSERT_EQ(::stat(path("dst").c_str(), &copy_st), 0);
        EXPECT_EQ(copy_st.st_atim.tv_nsec, source_st.st_atim.tv_nsec) << size;
        EXPECT_TRUE(read("dst") == content) << size;
        EXPECT_EQ(feed.copy_read_back, read_back) << size;
        veldro::hash::HashSet source;
        source_digests.finish(source);
        EXPECT_STREQ(source.md5.data(), whole.md5.data()) << size;
        if (feed.copy_read_back) {
            veldro::hash::HashSet copy;
            copy_digests.finish(copy);
            EXPECT_STREQ(copy.md5.data(), whole.md5.data()) << size;
        }
    }
}

TEST_F(CopyDataTest, AGroupCopiesLargeFilesTogetherAndLeavesTheRestAlone) {
    // Large files of uneven lengths go together, each piece of every source
    // and copy hashed in one call; a small file, and one whose destination
    // directory is missing, are left to be copied alone.
    const std::vector<std::pair<std::string, std::size_t>> files = {{"a", std::size_t{4} << 20U},
                                                                    {"b", (std::size_t{9} << 20U) + 17},
                                                                    {"small", std::size_t{65603}},
                                                                    {"c", (std::size_t{5} << 20U) + 1},
                                                                    {"nowhere/d", std::size_t{4} << 20U}};
    std::vector<std::string> contents;
    std::vector<std::string> sources;
    std::vector<std::string> destinations;
    std::vector<veldro::hash::DigestFeed> digests(2 * files.size());
    std::vector<veldro::platform::CopyFeed> feeds(files.size());
    std::vector<veldro::platform::GroupedCopy> group(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string content(files[i].second, '\0');
        for (std::size_t b = 0; b < content.size(); ++b) {
            content[b] = static_cast<char>(b * (i + 3) + b / 4096);
        }
        contents.push_back(content);
        std::string name(1, 's');
        name += std::to_string(i);
        write(name, content);
        sources.push_back(path(name));
        destinations.push_back(path(files[i].first));
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        digests[2 * i].start({});
        digests[2 * i + 1].start({});
        feeds[i].take = &veldro::hash::DigestFeed::take;
        feeds[i].context = &digests[2 * i];
        feeds[i].take_copy = &veldro::hash::DigestFeed::take;
        feeds[i].copy_context = &digests[2 * i + 1];
        feeds[i].take_both = &veldro::hash::DigestFeed::take_both;
        group[i].source = &sources[i];
        group[i].destination = &destinations[i];
        group[i].feed = &feeds[i];
    }
    // With a partner thread: each round hashed there while the next is copied.
    veldro::platform::CopyReadBack partner;
    veldro::platform::copy_whole_group(group.data(), group.size(), false, &veldro::hash::DigestFeed::take_many,
                                       &partner);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool large = files[i].first.size() == 1;
        ASSERT_EQ(group[i].grouped, large) << files[i].first;
        if (!large) {
            EXPECT_FALSE(fs::exists(destinations[i])) << files[i].first;
            continue;
        }
        EXPECT_FALSE(group[i].error) << files[i].first;
        EXPECT_TRUE(read(files[i].first) == contents[i]) << files[i].first;
        EXPECT_TRUE(feeds[i].copy_read_back && feeds[i].read_known && !feeds[i].source_changed);
        veldro::hash::HashSet whole;
        veldro::hash::HashSet source;
        veldro::hash::HashSet copy;
        veldro::hash::DigestFeed memory;
        memory.start({});
        memory.add(reinterpret_cast<const unsigned char*>(contents[i].data()), contents[i].size());
        memory.finish(whole);
        digests[2 * i].finish(source);
        digests[2 * i + 1].finish(copy);
        EXPECT_STREQ(source.md5.data(), whole.md5.data()) << files[i].first;
        EXPECT_STREQ(copy.md5.data(), whole.md5.data()) << files[i].first;
    }
    EXPECT_EQ(names().size(), files.size() + 3);  // the sources and the three copies: no temporary left
}

TEST_F(CopyDataTest, FailedCopiesLeaveTheEarlierCopyAndNoLeftovers) {
    write("dst", "earlier copy");
    // A source that cannot be read as a file: a directory, a FIFO, nothing.
    fs::create_directory(dir_ / "adir");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    for (const char* source : {"adir", "fifo", "missing"}) {
        EXPECT_TRUE(veldro::platform::copy_whole_file(path(source), path("dst"))) << source;
        EXPECT_TRUE(veldro::work::copy_file_data(native, path(source), path("dst"))) << source;
        EXPECT_EQ(read("dst"), "earlier copy");
    }
    // A read-only destination is not replaced (only -O lifts the mark).
    write("src", "newer");
    ::chmod(path("dst").c_str(), 0444);
    EXPECT_TRUE(veldro::platform::copy_whole_file(path("src"), path("dst")));
    EXPECT_TRUE(veldro::work::copy_file_data(native, path("src"), path("dst")));
    EXPECT_EQ(read("dst"), "earlier copy");
    // Nor is a directory standing at the destination.
    EXPECT_TRUE(veldro::platform::copy_whole_file(path("src"), path("adir")));
    EXPECT_EQ(names(), (std::set<std::string>{"dst", "adir", "fifo", "src"}));
}

TEST_F(CopyDataTest, LinksAreRecreatedAndNeverWrittenThrough) {
    write("target", "precious");
    fs::create_symlink("target", dir_ / "link");
    // A link standing at the destination is replaced, not written through.
    fs::create_symlink("target", dir_ / "dst");
    write("src", "data");
    ASSERT_FALSE(veldro::platform::copy_whole_file(path("src"), path("dst")));
    EXPECT_FALSE(fs::is_symlink(dir_ / "dst"));
    EXPECT_EQ(read("target"), "precious");
    // A link is copied as a link with the same target text.
    ASSERT_FALSE(veldro::platform::copy_symbolic_link(path("link"), path("copy")));
    EXPECT_TRUE(fs::is_symlink(dir_ / "copy"));
    EXPECT_EQ(fs::read_symlink(dir_ / "copy"), fs::path("target"));
    // Copying a link as data is refused: it is never followed.
    EXPECT_TRUE(veldro::platform::copy_whole_file(path("link"), path("x")));
}

TEST_F(CopyDataTest, BufferedCopyCarriesTheSourceTimesUnderItsName) {
    write("src", std::string(3 * 1024 * 1024 + 5, 'q'));
    const timespec ts[2] = {{1300000000, 1}, {1200000000, 999999999}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path("src").c_str(), ts, 0), 0);
    ASSERT_FALSE(veldro::work::copy_file_data(native, path("src"), path("dst")));
    struct stat st {};
    ASSERT_EQ(::stat(path("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 999999999);
    EXPECT_EQ(st.st_size, 3 * 1024 * 1024 + 5);
    ASSERT_EQ(::stat(path("src").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1300000000);  // reading left it alone
}

TEST_F(CopyDataTest, BufferedCopyTurnsCodeFiveIntoPlus) {
    write("src", "abc");
    ASSERT_FALSE(veldro::work::copy_file_data(native, path("src"),
                                              path("a\x05"
                                                   "b")));
    EXPECT_EQ(read("a+b"), "abc");
}

TEST_F(CopyDataTest, PathsBeyondTheSystemLimitAreReached) {
    std::string deep = dir_.string();
    const std::string name(200, 'd');
    while (deep.size() < 5000) {
        deep += "/" + name;
        ASSERT_FALSE(veldro::platform::make_directory(deep)) << deep.size();
    }
    const std::string source = deep + "/src.txt";
    const std::string dest = deep + "/dst.txt";
    {
        // Written through the program's own buffered copy from a short path.
        write("short", "deep data");
        ASSERT_FALSE(veldro::work::copy_file_data(native, path("short"), source));
    }
    ASSERT_FALSE(veldro::platform::copy_whole_file(source, dest));
    FindRecord r;
    ASSERT_FALSE(veldro::platform::lookup_path(dest, r));
    EXPECT_EQ(r.size, 9U);
    veldro::platform::FileTimeSet times = r.times;
    times.last_write.ticks -= 10000000ULL * 3600;
    bool creation_set = false;
    ASSERT_FALSE(veldro::platform::set_times(dest, times, creation_set));
    ASSERT_FALSE(veldro::platform::lookup_path(dest, r));
    EXPECT_EQ(r.times.last_write, times.last_write);
    veldro::platform::DirectorySearch search;
    ASSERT_FALSE(search.open(deep + "/", "*.txt"));
    int count = 0;
    while (search.next(r)) {
        ++count;
    }
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(veldro::platform::remove_file(dest));
    EXPECT_TRUE(veldro::platform::lookup_path(dest, r));
}

TEST_F(CopyDataTest, InterruptDuringACopyEndsTheRunAndLeavesNothing) {
    write("src", std::string(4 * 1024 * 1024, 'x'));
    write("dst", "earlier copy");
    const std::string src = path("src");
    const std::string dst = path("dst");
    EXPECT_EXIT(
        {
            static veldro::OwnedRun s;
            s.files.report_stream = stdout;
            s.files.error_stream = stderr;
            veldro::platform::install_interrupt_handler();
            std::raise(SIGINT);
            veldro::ending_run([&] { veldro::work::copy_file_data(native, src, dst); });
        },
        ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(read("dst"), "earlier copy");
    EXPECT_EQ(names(), (std::set<std::string>{"src", "dst"}));
    EXPECT_EXIT(
        {
            static veldro::OwnedRun s;
            s.files.report_stream = stdout;
            s.files.error_stream = stderr;
            veldro::platform::install_interrupt_handler();
            std::raise(SIGINT);
            veldro::ending_run([&] { veldro::work::platform_copy(native, src, dst); });
        },
        ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(read("dst"), "earlier copy");
    EXPECT_EQ(names(), (std::set<std::string>{"src", "dst"}));
}

}  // namespace
