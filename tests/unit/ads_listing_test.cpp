// Listing the named streams of a file: the platform listing (user extended
// attributes on Linux), reading a stream, the growing stream table and the
// handling of listing failures.
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ads/streams.h"
#include "platform/file_io.h"
#include "platform/streams.h"
#include "record/run_report.h"
#include "run/run.h"

namespace veldro {
namespace {

namespace fs = std::filesystem;

std::string read_all(platform::FileHandle& file) {
    std::string out;
    char buffer[7];  // small on purpose: several reads per stream
    for (;;) {
        std::size_t got = 0;
        const std::error_code error = platform::read_some(file, buffer, sizeof buffer, got);
        if (error || got == 0) {
            EXPECT_FALSE(error);
            return out;
        }
        out.append(buffer, got);
    }
}

class StreamListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("veldro_ads_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string probe = make_file("probe", "x");
        if (platform::write_stream(probe, "probe", "1", 1)) {
            GTEST_SKIP() << "the temporary directory's file system keeps no user extended attributes";
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string make_file(const std::string& name, const std::string& contents) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    void add_stream(const std::string& file, const std::string& name, const std::string& value) {
        ASSERT_FALSE(platform::write_stream(file, name, value.data(), value.size())) << name;
    }

    fs::path dir_;
};

TEST_F(StreamListingTest, FileWithoutStreamsHasNone) {
    const std::string file = make_file("plain.txt", "contents are not a stream");
    std::vector<platform::StreamRecord> table;
    std::size_t count = 99;
    EXPECT_EQ(platform::list_named_streams(file, table, count), platform::StreamListStatus::complete);
    EXPECT_EQ(count, 0U);
#ifndef _WIN32
    // The look without an open tells the same, and never for a file it
    // cannot see.
    EXPECT_TRUE(platform::has_no_named_streams(file));
#endif
    EXPECT_FALSE(platform::has_no_named_streams((dir_ / "missing").string()));
}

TEST_F(StreamListingTest, ListsNamesWithoutPrefixAndSizesIncludingEmptyStreams) {
    const std::string file = make_file("report.doc", "body");
    add_stream(file, "notes.txt", "twelve bytes");
    add_stream(file, "empty", "");
    add_stream(file, "with blanks and ümlaut €", "x");
    std::vector<platform::StreamRecord> table;
    std::size_t count = 0;
    ASSERT_EQ(platform::list_named_streams(file, table, count), platform::StreamListStatus::complete);
    ASSERT_EQ(count, 3U);
    EXPECT_FALSE(platform::has_no_named_streams(file));
    std::map<std::string, std::int64_t> found;
    for (std::size_t i = 0; i < count; ++i) {
        found[table[i].name] = table[i].size;
    }
    EXPECT_EQ(found,
              (std::map<std::string, std::int64_t>{{"notes.txt", 12}, {"empty", 0}, {"with blanks and ümlaut €", 1}}));
}

TEST_F(StreamListingTest, TableGrowsPastTenAndIsReusedForSmallerFiles) {
    const std::string many = make_file("many", "m");
    for (int i = 0; i < 25; ++i) {
        std::string name("s");
        name.append(std::to_string(i));
        add_stream(many, name, std::string(static_cast<std::size_t>(i), 'v'));
    }
    const std::string few = make_file("few", "f");
    add_stream(few, "only", "1");

    OwnedRun s;
    EXPECT_EQ(ads::enumerate_streams(s, many), 25);
    EXPECT_EQ(s.streams.stream_count, 25U);
    std::set<std::string> names;
    for (std::size_t i = 0; i < s.streams.stream_count; ++i) {
        names.insert(s.streams.stream_table[i].name);
    }
    EXPECT_EQ(names.size(), 25U);
    EXPECT_TRUE(names.count("s24") == 1);

    EXPECT_EQ(ads::enumerate_streams(s, few), 1);
    EXPECT_EQ(s.streams.stream_count, 1U);
    EXPECT_EQ(s.streams.stream_table[0].name, "only");
    EXPECT_EQ(s.streams.stream_table[0].size, 1);
}

TEST_F(StreamListingTest, ReadsStreamContentsExactly) {
    const std::string file = make_file("data.bin", "file body");
    const std::string binary(
        "a\0b\xff\n"
        "0123456789abcdef",
        21);
    add_stream(file, "bin", binary);
    add_stream(file, "empty", "");

    platform::FileHandle stream;
    ASSERT_FALSE(platform::open_stream_for_read(file, "bin", stream));
    EXPECT_EQ(read_all(stream), binary);

    platform::FileHandle empty;
    ASSERT_FALSE(platform::open_stream_for_read(file, "empty", empty));
    EXPECT_EQ(read_all(empty), "");

    platform::FileHandle none;
    EXPECT_EQ(platform::open_stream_for_read(file, "absent", none), std::errc::no_message_available);
    EXPECT_EQ(platform::open_stream_for_read((dir_ / "no such file").string(), "bin", none),
              std::errc::no_such_file_or_directory);
    EXPECT_FALSE(none.valid());
}

TEST_F(StreamListingTest, ColonInFileNameIsAnOrdinaryCharacter) {
    // "a:b" is a file of its own; its stream is addressed as (file, name).
    const std::string plain = make_file("a", "a");
    const std::string colon = make_file("a:b", "ab");
    add_stream(colon, "c", "from a:b");
    add_stream(plain, "b", "from a");

    platform::FileHandle stream;
    ASSERT_FALSE(platform::open_stream_for_read(colon, "c", stream));
    EXPECT_EQ(read_all(stream), "from a:b");
    platform::FileHandle none;
    EXPECT_TRUE(platform::open_stream_for_read(plain, "b:c", none));

    OwnedRun s;
    ASSERT_EQ(ads::enumerate_streams(s, colon), 1);
    EXPECT_EQ(s.streams.stream_table[0].name, "c");
}

TEST_F(StreamListingTest, MissingFileHasNoStreamsAndNoMessage) {
    OwnedRun s;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ads::enumerate_streams(s, (dir_ / "gone").string()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(s.streams.ads_errors_ignored, 0);
}

// ---- the end of a listing -------------------------------------------------

TEST(StreamListingEnd, CompleteAndNameFailureKeepTheStreamsListed) {
    OwnedRun s;
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::complete, 12), 12);
    testing::internal::CaptureStdout();
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::name_read_failed, 3), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n160");
    EXPECT_EQ(s.streams.stream_count, 3U);
}

TEST(StreamListingEnd, RefusedOrUnopenableFileHasNoneWithoutAQuestion) {
    OwnedRun s;
    testing::internal::CaptureStdout();
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::unsupported, 4), 0);
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::open_failed, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(s.streams.ads_errors_ignored, 0);
}

TEST(StreamListingEnd, AfterAnswerYLaterReadErrorsOnlyPrintALineEnd) {
    OwnedRun s;
    s.streams.ads_errors_ignored = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::header_read_failed, 2), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n");
}

// The question reads one key; without a terminal that is one byte of
// standard input, which these tests provide through a file.
void answer_with(const char* answer) {
    const std::string path = (fs::temp_directory_path() / ("veldro_ads_answer_" + std::to_string(::getpid()))).string();
    std::ofstream(path, std::ios::binary) << answer;
    ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
}

TEST(StreamListingEnd, AnswerYGoesOnWithoutTheFilesStreams) {
    OwnedRun s;
    answer_with("Y");
    testing::internal::CaptureStdout();
    EXPECT_EQ(record::count_after_listing(s, platform::StreamListStatus::header_read_failed, 5), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nLine: 98 Source File: .\\dmp_fun_veldro Has encountered an Alt Data Stream Read error"),
              std::string::npos);
    EXPECT_NE(out.find("Enter Y or anything els now "), std::string::npos);
    EXPECT_EQ(s.streams.ads_errors_ignored, 1);
}

TEST(StreamListingEndDeathTest, AnyOtherAnswerEndsTheRunAsAnAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            OwnedRun s;
            answer_with("y");
            ending_run(
                [&] { (void)record::count_after_listing(s, platform::StreamListStatus::header_read_failed, 1); });
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(StreamListingEndDeathTest, NoAnswerAtAllEndsTheRunAsAnAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            OwnedRun s;
            answer_with("");
            ending_run(
                [&] { (void)record::count_after_listing(s, platform::StreamListStatus::header_read_failed, 1); });
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

}  // namespace
}  // namespace veldro
