// The worker against the in-memory file system: a failure injected at each
// step of a file's work, and what the outcome then says.
#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "fake_file_system.h"
#include "work/worker.h"

namespace veldro::work {
namespace {

using test::FakeFileSystem;
using test::FsOp;

constexpr const char* src = "/s/a.txt";
constexpr const char* dst = "/d/a.txt";
constexpr std::string_view md5_abc = "900150983CD24FB0D6963F7D28E17F72";
const std::error_code eio = std::make_error_code(std::errc::io_error);

struct Case {
    const char* name;
    FsOp op;
    int from;  // the calls from..from+count-1 fail; from 0: every call on `path`
    int count;
    const char* path;
    int retries;
    bool reset_times;
    bool listed;
    // What the outcome says.
    bool copied;
    bool match;
    int retried;
    std::string_view failed_step;  // "attributes", "copy_times", "source_times" or ""
};

// -H on one thread: the copy feeds the source's digest and is read back
// after it is made.
const Case cases[] = {
    {"nothing", FsOp::count, 0, 0, "", 0, false, false, true, true, 0, ""},
    {"open, both ways", FsOp::open, 0, 0, src, 0, false, false, false, false, 0, ""},
    {"first way's publish", FsOp::publish, 1, 1, "", 0, false, false, true, true, 0, ""},
    {"read, both ways", FsOp::read, 0, 0, src, 0, false, false, false, false, 0, ""},
    {"write, both ways", FsOp::write, 0, 0, dst, 0, false, false, false, false, 0, ""},
    {"both ways' publish", FsOp::publish, 1, 2, "", 0, false, false, false, false, 0, ""},
    {"both ways' publish, then a retry", FsOp::publish, 1, 2, "", 2, false, false, true, true, 1, ""},
    {"every publish, retries", FsOp::publish, 0, 0, dst, 2, false, false, false, false, 2, ""},
    {"read-back", FsOp::read_back, 1, 1, "", 0, false, false, true, false, 0, ""},
    {"read-back, then a retry", FsOp::read_back, 1, 1, "", 1, false, false, true, true, 1, ""},
    {"stamp", FsOp::set_times, 0, 0, dst, 0, false, false, true, true, 0, "copy_times"},
    {"attributes", FsOp::set_attributes, 0, 0, dst, 0, false, false, true, true, 0, "attributes"},
    {"source's times put back", FsOp::set_times, 0, 0, src, 0, true, false, true, true, 0, "source_times"},
    {"list: stamp", FsOp::set_times, 0, 0, dst, 0, false, true, true, true, 0, "copy_times"},
    {"list: -O attributes", FsOp::set_attributes, 0, 0, dst, 0, false, true, true, true, 0, "attributes"},
    {"list: source's times put back", FsOp::set_times, 0, 0, src, 0, true, true, true, true, 0, "source_times"},
};

class Worker : public ::testing::Test {
protected:
    Options o;
    FileOutcome out;
    WorkScratch scratch;

    void prepare(FakeFileSystem& files, bool listed) {
        o.threads = 1;
        o.hashing.hash_both();
        files.add(src, "abc");
        out.reset();
        out.source = src;
        out.destination = dst;
        out.entry = files.nodes[src].record;
        out.listed = listed;
        out.directory_ready = out.hashed = !listed;
        out.source_hashed = out.destination_hashed = true;
        out.protected_replaced = listed;  // -O in the list: the copy then takes these
        out.protected_attributes = platform::attr_readonly;
    }
};

TEST_F(Worker, EachStepsFailureIsInTheOutcome) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFileSystem files;
        prepare(files, c.listed);
        o.hashing.retries = c.retries;
        o.copy.reset_times = c.reset_times;
        if (c.from == 0 && c.op != FsOp::count) {
            files.fail(c.op, 0, std::errc::io_error, c.path);
        }
        for (int n = c.from; n > 0 && n < c.from + c.count; ++n) {
            files.fail(c.op, n, std::errc::io_error);
        }
        work_file(o, out, scratch, files);
        EXPECT_EQ(out.copied, c.copied);
        EXPECT_EQ(out.copied, files.exists(dst));
        EXPECT_EQ(out.match, c.match);
        EXPECT_EQ(out.retries, c.retried);
        EXPECT_EQ(out.copy_error, c.copied ? std::error_code() : eio);
        EXPECT_EQ(out.failure_detail != nullptr, !c.copied && !c.listed);
        EXPECT_EQ(out.source_digests.md5.data(), md5_abc);
        EXPECT_EQ(out.attributes.failed, c.failed_step == "attributes");
        EXPECT_EQ(out.copy_times.failed, c.failed_step == "copy_times");
        EXPECT_EQ(out.source_times.failed, c.failed_step == "source_times");
        for (const StepResult* r : {&out.attributes, &out.copy_times, &out.source_times}) {
            EXPECT_EQ(r->reason, r->failed ? eio : std::error_code());
        }
        if (c.copied && c.failed_step != "copy_times") {
            EXPECT_EQ(files.nodes[dst].record.times.last_write, out.entry.times.last_write);
        }
    }
}

TEST_F(Worker, AFileInAGroupEndsAsItWouldAlone) {
    // The case's file between two others: its failures (on its own paths)
    // end as when it is worked alone, and the others are copied and proven.
    for (const Case& c : cases) {
        if (c.from != 0 || c.listed) {
            continue;
        }
        SCOPED_TRACE(c.name);
        FakeFileSystem files;
        prepare(files, false);
        o.hashing.retries = c.retries;
        o.copy.reset_times = c.reset_times;
        files.fail(c.op, 0, std::errc::io_error, c.path);
        std::array<FileOutcome, 3> group;
        std::array<FileOutcome*, 3> outs{};
        for (std::size_t i = 0; i < group.size(); ++i) {
            group.at(i) = out;
            if (i != 1) {
                const std::string name(1, static_cast<char>('x' + i));
                files.add("/s/" + name, "other");
                group.at(i).source = "/s/" + name;
                group.at(i).destination = "/d/" + name;
                group.at(i).entry = files.nodes[group.at(i).source].record;
            }
            outs.at(i) = &group.at(i);
        }
        std::size_t done = 0;
        work_file_group(o, outs.data(), outs.size(), scratch, files, done);
        EXPECT_EQ(done, group.size());
        EXPECT_EQ(group[1].copied, c.copied);
        EXPECT_EQ(group[1].match, c.match);
        EXPECT_EQ(group[1].retries, c.retried);
        EXPECT_EQ(group[1].source_digests.md5.data(), md5_abc);
        EXPECT_EQ(group[1].copy_times.failed, c.failed_step == "copy_times");
        EXPECT_EQ(group[1].source_times.failed, c.failed_step == "source_times");
        for (const std::size_t other : {0, 2}) {
            EXPECT_TRUE(group.at(other).copied && group.at(other).match);
            EXPECT_EQ(files.nodes[group.at(other).destination].data, "other");
        }
    }
}

// A source rewritten between the look that chose it and the open that
// copies it: its new size and times are the file's, and it counts as
// changed while it was copied, until a retry copies it unchanged.
TEST_F(Worker, TheSourceAsOpenedIsTheOneRecorded) {
    for (const int retries : {0, 1}) {
        SCOPED_TRACE(retries);
        FakeFileSystem files;
        prepare(files, false);
        o.hashing.retries = retries;
        files.on_open = [&files](const std::string& path) {
            if (files.calls(FsOp::open) == 1) {
                FakeFileSystem::Node& node = files.nodes[path];
                node.data = "abcd";
                node.record.size = 4;
                node.record.times.last_write.ticks += 7;
            }
        };
        const platform::FileTime rewritten{files.nodes[src].record.times.last_write.ticks + 7, 0};
        work_file(o, out, scratch, files);
        ASSERT_TRUE(out.copied);
        ASSERT_FALSE(out.copy_changed.empty());
        EXPECT_TRUE(out.copy_changed.front());
        EXPECT_EQ(out.entry.size, 4U);
        EXPECT_EQ(out.opened_size_text, "4");
        EXPECT_EQ(out.entry.times.last_write, rewritten);
        EXPECT_EQ(files.nodes[dst].record.times.last_write, rewritten);
        EXPECT_EQ(out.match, retries > 0);
        EXPECT_EQ(out.retries, retries);
        EXPECT_EQ(std::string_view(out.source_digests.md5.data()).find("SOURCE CHANGED") != std::string_view::npos,
                  retries == 0);
    }
}

// A file whose file system reports less than it holds (a pseudo-file
// reports 0): the bytes read are the size recorded, the reported one is
// noted, and the copy is no changed source.
TEST_F(Worker, TheBytesReadAreTheSizeRecorded) {
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed);
        FakeFileSystem files;
        prepare(files, listed);
        files.nodes[src].record.size = out.entry.size = 0;
        work_file(o, out, scratch, files);
        ASSERT_TRUE(out.copied);
        EXPECT_EQ(out.entry.size, 3U);
        EXPECT_EQ(out.opened_size_text, "3");
        EXPECT_EQ(out.reported_size_text, "0");
        EXPECT_FALSE(out.source_changed);
        EXPECT_EQ(out.source_digests.md5.data(), md5_abc);
    }
}

// -O: a copy made again after a mismatch replaces the one that took the
// protected copy's attributes, and takes them in its turn.
TEST_F(Worker, ACopyMadeAgainTakesTheProtectedAttributes) {
    FakeFileSystem files;
    prepare(files, false);
    o.copy.overwrite_protected = true;
    o.hashing.retries = 1;
    out.protected_replaced = true;
    files.fail(FsOp::read_back, 1, std::errc::io_error);
    work_file(o, out, scratch, files);
    EXPECT_EQ(out.retries, 1);
    EXPECT_TRUE(out.match);
    EXPECT_EQ(files.nodes[dst].record.attributes, platform::attr_readonly);
}

// --VERIFY_MEDIA: every read-back of a copy, a retry's too, is asked of the
// device, even with threads to spare for reading a copy while it is made.
TEST_F(Worker, VerifyMediaReadsEveryCopyFromItsDevice) {
    for (const bool media : {false, true}) {
        SCOPED_TRACE(media);
        FakeFileSystem files;
        prepare(files, false);
        o.threads = 4;
        o.hashing.verify_media = media;
        o.hashing.retries = 1;
        files.fail(FsOp::read_back, 1, std::errc::io_error);
        work_file(o, out, scratch, files);
        EXPECT_TRUE(out.match);
        EXPECT_EQ(files.device_reads, media ? 2 : 0);
    }
}

// A source read without keeping its last-access time, or whose times
// could not be put back, counts as moved only while its time is not the
// one it was found with.
TEST_F(Worker, ASourceLeftWithAnotherAccessTimeIsTold) {
    struct AccessCase {
        const char* name;
        bool unprotected;
        bool reset_times;
        FsOp fails;  // on the source
        bool moved;
    };
    const AccessCase access_cases[] = {
        {"kept by the read", false, false, FsOp::count, false},
        {"moved by the read", true, false, FsOp::count, true},
        {"moved, put back", true, true, FsOp::count, false},
        {"moved, not put back", true, true, FsOp::set_times, true},
        {"put-back refused", false, true, FsOp::set_times, true},
        {"not to be looked at again", true, false, FsOp::lookup, false},
    };
    for (const AccessCase& c : access_cases) {
        SCOPED_TRACE(c.name);
        FakeFileSystem files;
        prepare(files, false);
        files.reads_unprotected = c.unprotected;
        o.copy.reset_times = c.reset_times;
        if (c.fails != FsOp::count) {
            files.fail(c.fails, 0, std::errc::operation_not_permitted, src);
        }
        work_file(o, out, scratch, files);
        EXPECT_EQ(out.access_moved, c.moved);
    }
}

}  // namespace
}  // namespace veldro::work
